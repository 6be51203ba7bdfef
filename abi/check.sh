#!/usr/bin/env bash
# Compares a built libdaz with the ABI stored for its SONAME, or writes that
# ABI. Two dumps by abidw, from debug information, each keyed by the SONAME:
#   SONAME.abi          the library: its functions and the types they reach;
#   SONAME.headers.abi  every type and enumerator the public headers declare,
#                       from a probe compiled with all of them kept: the
#                       error codes and the constants' enum, which no
#                       function's type reaches.
# abidiff compares each with the stored one. Additions pass: new functions,
# new types, enumerators appended to an enum. Anything else fails: a function
# removed or with another type, a struct's size or layout, an enumerator's
# value, a type removed. (abidiff's own "incompatible" bit, 8, covers only
# removed symbols: a changed struct or enumerator sets bit 4 alone, which is
# why bit 4 fails too unless the report counts nothing removed or changed.)
#
# Usage: check.sh LIBRARY HEADERS_DIR STORED_DIR   (exit 77: the stored ABI
#                                                   is of another processor)
#        check.sh --dump LIBRARY HEADERS_DIR OUT_DIR
set -euo pipefail
dump_only=no
if [ "$1" = --dump ]; then
  dump_only=yes
  shift
fi
library=$1
headers=$(cd "$2" && pwd)
stored=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

readelf -S --wide "$library" | grep -F ' .debug_info ' >/dev/null ||
  fail "$library has no debug information: its types can't be compared"
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ -n "$soname" ] || fail "$library has no SONAME"

# Only what the headers declare: types defined elsewhere (ours inside, the
# system's) are dropped, and no path of this machine is written.
cat >"$work/public.suppr" <<SUPPR
[suppress_type]
  source_location_not_in = $(cd "$headers" && ls -- *.h | tr '\n' ' ')
  drop = yes
SUPPR
options=(--headers-dir "$headers" --drop-private-types --no-show-locs --no-corpus-path
         --no-comp-dir-path --no-elf-needed --type-id-style hash)
abidw "${options[@]}" --suppressions "$work/public.suppr" --out-file "$work/$soname.abi" "$library"
# The probe: every header, every type kept, one function of its own (abidw
# reads no library that exports nothing).
{
  (cd "$headers" && ls -- *.h) | sed 's/.*/#include "&"/'
  echo 'void abi_probe(void);'
  echo 'void abi_probe(void) {}'
} >"$work/probe.c"
"${CC:-cc}" -g -fno-eliminate-unused-debug-types -shared -fPIC -I"$headers" \
  -Wl,-soname,"$soname" "$work/probe.c" -o "$work/probe.so"
abidw "${options[@]}" --load-all-types --suppressions "$work/public.suppr" \
  --out-file "$work/$soname.headers.abi" "$work/probe.so"

if [ "$dump_only" = yes ]; then
  mkdir -p "$stored"
  cp "$work/$soname.abi" "$work/$soname.headers.abi" "$stored/"
  echo "wrote $stored/$soname.abi and $stored/$soname.headers.abi"
  exit 0
fi

# (Types no function reaches are compared in the headers' dump alone, made
# with all of them: abidiff takes --non-reachable-types only for such a dump.)
for dump in "$soname.abi" "$soname.headers.abi"; do
  reach=()
  [ "$dump" = "$soname.abi" ] || reach=(--non-reachable-types)
  [ -f "$stored/$dump" ] ||
    fail "no stored ABI for $soname ($stored/$dump): a new major version starts one with abi/update.sh"
  architecture() { sed -n "s/^<abi-corpus [^>]*architecture='\([^']*\)'.*/\1/p" "$1"; }
  if [ "$(architecture "$stored/$dump")" != "$(architecture "$work/$dump")" ]; then
    echo "the stored ABI is of $(architecture "$stored/$dump"), this library of $(architecture "$work/$dump"): not compared"
    exit 77
  fi
  status=0
  abidiff --no-added-syms "${reach[@]}" "$stored/$dump" "$work/$dump" >"$work/report" 2>&1 ||
    status=$?
  if ((status & 3)); then
    cat "$work/report"
    fail "abidiff failed on $dump (status $status)"
  fi
  if ((status & 8)) || { ((status & 4)) && grep -E '\<[1-9][0-9]* (Removed|removed|Changed|changed)\>' \
                           "$work/report" >/dev/null; }; then
    cat "$work/report"
    fail "$library breaks the ABI stored in $stored/$dump (abidiff status $status)"
  fi
  if ((status & 4)); then
    echo "$dump: additions only, compatible; abi/update.sh stores them, so that they are kept too:"
    cat "$work/report"
  fi
done
echo "$library keeps the ABI stored for $soname"
