#!/usr/bin/env bash
# The daz type as the desktop sees it: desktop/daz.xml in a MIME database of
# its own, asked through GIO (gio info) for files with and without the .daz
# name; and desktop/daz.magic through file(1), its text, MIME type and
# extension. The daz files are orvx's, from the samples, and hand-made
# headers for the top-down and edge cases. Then one rule for all: byte
# strings that file, the MIME database and libdaz's daz_guess_format must
# each call daz, or each not.
# Usage: type_test.sh ORVX SOURCE_DIR LIBDAZ
set -euo pipefail
orvx=$1 source=$2 libdaz=$3
# A sanitizer build's libdaz needs its runtimes loaded first into Python.
preload=$(ldd "$libdaz" | awk '/lib(asan|ubsan)\.so/ {print $3}' | paste -sd: -)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

"$orvx" -c "$source/samples/sample8.bmp" "$work/sample8" >/dev/null
"$orvx" -c "$source/samples/sample4.bmp" "$work/sample4" 10 1f2e >/dev/null
header() { printf 'EW%b' "$1"; head -c 16 /dev/zero; }
header '\001\000\140\000\300\377\010\000' >"$work/topdown"   # height -64
header '\001\000\377\377\000\200\004\000' >"$work/tallest"   # 65535 x -32768
header '\002\000\140\000\100\000\010\000' >"$work/format2"
printf 'EW, said the text\n' >"$work/text"
header '\001\000\140\000\100\000\010\000' | head -c 23 >"$work/header-23"
head -c 600 "$source/samples/sample8.bmp" >"$work/bitmap"

# The MIME database: daz.xml among the system's types, as on a desktop (a
# database of daz.xml alone has GIO sniff no more than its 2 bytes).
# name | file | type
mkdir -p "$work/share/mime/packages"
cp "$source/desktop/daz.xml" /usr/share/mime/packages/freedesktop.org.xml \
  "$work/share/mime/packages/"
XDG_DATA_DIRS="$work/share" update-mime-database "$work/share/mime"
cp "$work/sample8" "$work/named.daz"
cp "$work/text" "$work/text.daz"
cp "$work/sample4" "$work/sample4.png-not"
mime="
sample8, no extension|sample8|image/x-daz
top-down, no extension|topdown|image/x-daz
unknown extension|sample4.png-not|image/x-daz
.daz|named.daz|image/x-daz
.daz on text|text.daz|image/x-daz
bitmap|bitmap|image/bmp"
while IFS='|' read -r name file expected; do
  [ -n "$name" ] || continue
  got=$(XDG_DATA_HOME="$work/share" XDG_DATA_DIRS="$work/share" \
        gio info -a standard::content-type "$work/$file" | sed -n 's/^ *standard::content-type: //p')
  [ "$got" = "$expected" ] || fail "MIME $name: $got, not $expected"
done <<<"$mime"

# file(1) with daz.magic: name | file | text | MIME type | extension
magic="
sample8|sample8|daz image, 96 x 64, 8 bpp|image/x-daz|daz
sample4|sample4|daz image, 45 x 30, 4 bpp|image/x-daz|daz
top-down|topdown|daz image, 96 x 64, 8 bpp|image/x-daz|daz
65535 x -32768|tallest|daz image, 65535 x 32768, 4 bpp|image/x-daz|daz
format 2|format2|daz image, 96 x 64, 8 bpp|image/x-daz|daz
23 bytes of header|header-23|daz image|image/x-daz|daz
text starting EW|text|daz image|image/x-daz|daz
bitmap|bitmap|data|application/octet-stream|???"
while IFS='|' read -r name file text type extension; do
  [ -n "$name" ] || continue
  for option in "" --mime-type --extension; do
    got=$(file -b $option -m "$source/desktop/daz.magic" "$work/$file")
    case $option in
      "") want=$text ;;
      --mime-type) want=$type ;;
      *) want=$extension ;;
    esac
    [ "$got" = "$want" ] || fail "magic $name $option: $got, not $want"
  done
done <<<"$magic"

# One rule: "EW" at offset 0, as daz_guess_format has it. name | bytes
# (printf %b) | daz or other. No name ends in .daz: the content alone tells.
verdicts='
empty||other
E alone|E|other
EW alone|EW|daz
EW and a NUL|EW\000|daz
six bytes of header|EW\001\000\005\000|daz
format 0, 24 bytes|EW\000\000\140\000\100\000\010\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000|daz
format 2, 24 bytes|EW\002\000\140\000\100\000\010\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000|daz
text starting EW|EW, said the text\n|daz
lower case|ew\001\000|other
EW a byte in| EW\001\000|other
WE|WE\001\000|other
E, NUL, W|E\000W\001\000|other
bitmap start|BM\066\000\000\000|other
PNG signature|\211PNG\r\n\032\n|other'
mkdir "$work/verdicts"
while IFS='|' read -r name bytes expected; do
  [ -n "$name" ] || continue
  file="$work/verdicts/${name// /-}"
  printf '%b' "$bytes" >"$file"
  by_file=$(file -b --mime-type -m "$source/desktop/daz.magic" "$file")
  by_mime=$(XDG_DATA_HOME="$work/share" XDG_DATA_DIRS="$work/share" \
            gio info -a standard::content-type "$file" | sed -n 's/^ *standard::content-type: //p')
  by_library=$(LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0 /usr/bin/python3 -c '
import ctypes, sys
guess = ctypes.CDLL(sys.argv[1]).daz_guess_format
guess.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
data = open(sys.argv[2], "rb").read()
print("image/x-daz" if guess(data, len(data)) == 1 else "other")' "$libdaz" "$file")
  for said in "file:$by_file" "shared-mime-info:$by_mime" "daz_guess_format:$by_library"; do
    verdict=other
    [ "${said#*:}" = image/x-daz ] && verdict=daz
    [ "$verdict" = "$expected" ] || fail "verdict $name: ${said%%:*} says $verdict (${said#*:}), not $expected"
  done
done <<<"$verdicts"
exit $status
