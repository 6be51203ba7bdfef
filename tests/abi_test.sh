#!/usr/bin/env bash
# What abi/check.sh lets through: a small library shaped as libdaz (a
# constants' enum, an error enum no function's type reaches, a struct filled
# through a pointer, an opaque handle) is stored, then changed one way per
# case, rebuilt and checked. Additions must pass, every other change fail.
# Usage: abi_test.sh SOURCE_DIR   (CC: the C compiler, cc by default)
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cat >"$work/t.h" <<'HEADER'
#include <stddef.h>
#include <stdint.h>
enum { T_HEADER_SIZE = 24, T_MAX_WIDTH = 65535 };
typedef enum t_error { T_OK = 0, T_ERR_ARGUMENT = -1, T_ERR_BUFFER = -2 } t_error;
typedef struct t_info { uint32_t width; int32_t height; int bits; } t_info;
typedef struct t_decoder t_decoder;
int t_inspect(const void* data, size_t size, t_info* info);
int t_decoder_create(t_decoder** decoder);
HEADER
cat >"$work/t.c" <<'SOURCE'
#include "t.h"
#include <stdlib.h>
struct t_decoder { int state; };
int t_inspect(const void* data, size_t size, t_info* info) { (void)data; info->width = (uint32_t)size; return T_OK; }
int t_decoder_create(t_decoder** decoder) { *decoder = calloc(1, sizeof **decoder); return *decoder ? T_OK : T_ERR_BUFFER; }
SOURCE
build() { # FOLDER SONAME HEADER_SED SOURCE_SED [CFLAGS]
  mkdir -p "$work/$1/include"
  sed "$3" "$work/t.h" >"$work/$1/include/t.h"
  sed "$4" "$work/t.c" >"$work/$1/t.c"
  "${CC:-cc}" "${5--g}" -O2 -shared -fPIC -I"$work/$1/include" -Wl,-soname,"$2" "$work/$1/t.c" \
    -o "$work/$1/libt.so"
}
build stored libt.so.1 '' ''
"$source/abi/check.sh" --dump "$work/stored/libt.so" "$work/stored/include" "$work/abi" >/dev/null

# case | keeps (0) or breaks (1) | sed on the header | sed on the source
cases="
unchanged|0||
function added|0|\$a int t_extra(int x);|\$a int t_extra(int x) { return x; }
type and function added|0|\$a typedef struct t_limits { uint64_t max_bytes; } t_limits; int t_limit(const t_limits* limits);|\$a int t_limit(const t_limits* limits) { return (int)limits->max_bytes; }
enumerator appended|0|s/T_ERR_BUFFER = -2 }/T_ERR_BUFFER = -2, T_ERR_STATE = -3 }/|
parameter renamed|0|s/t_decoder\\*\\* decoder/t_decoder** out/|
function removed|1|/t_decoder_create/d|/t_decoder_create/d
parameter type changed|1|s/size_t size/uint32_t size/|s/size_t size/uint32_t size/
member added at the end|1|s/int bits; }/int bits; int colors; }/|
member type changed|1|s/int32_t height/int64_t height/|
members swapped|1|s/uint32_t width; int32_t height;/int32_t height; uint32_t width;/|
error code renumbered|1|s/T_ERR_BUFFER = -2/T_ERR_BUFFER = -3/|
error code inserted before another|1|s/T_ERR_BUFFER = -2/T_ERR_LIMITS = -2, T_ERR_BUFFER = -3/|
constant changed|1|s/T_MAX_WIDTH = 65535/T_MAX_WIDTH = 32767/|
error enum removed|1|s/typedef enum t_error .*//|s/T_OK/0/; s/T_ERR_BUFFER/-2/"
while IFS='|' read -r name expected header_sed source_sed; do
  [ -n "$name" ] || continue
  folder=${name// /-}
  build "$folder" libt.so.1 "$header_sed" "$source_sed"
  status=0
  "$source/abi/check.sh" "$work/$folder/libt.so" "$work/$folder/include" "$work/abi" \
    >"$work/$folder.log" 2>&1 || status=$?
  [ "$status" = "$expected" ] || { cat "$work/$folder.log"; fail "$name: check.sh exited $status, not $expected"; }
done <<<"$cases"

# Refused: a library without debug information, and one of another SONAME
# (a new major version), whose ABI is not stored.
build no-debug libt.so.1 '' '' -g0
build next-major libt.so.2 '' ''
for folder in no-debug next-major; do
  "$source/abi/check.sh" "$work/$folder/libt.so" "$work/$folder/include" "$work/abi" \
    >"$work/$folder.log" 2>&1 && fail "$folder: check.sh passed: $(cat "$work/$folder.log")"
done
grep -F "no debug information" "$work/no-debug.log" >/dev/null || fail "no-debug: $(cat "$work/no-debug.log")"
grep -F "no stored ABI for libt.so.2" "$work/next-major.log" >/dev/null ||
  fail "next-major: $(cat "$work/next-major.log")"
echo "abi/check.sh: additions kept, $(grep -c '|1|' <<<"$cases") breaking changes and two refusals caught"
