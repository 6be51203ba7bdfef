#!/usr/bin/env bash
# The daz type as the desktop sees it: desktop/daz.xml in a MIME database of
# its own, asked through GIO (gio info) for files with and without the .daz
# name; and desktop/daz.magic through file(1), its text, MIME type and
# extension. The daz files are orvx's, from the samples, and hand-made
# headers for the top-down and edge cases.
# Usage: type_test.sh ORVX SOURCE_DIR
set -euo pipefail
orvx=$1 source=$2
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
printf 'EW\001\000\005\000' >"$work/six-bytes"   # a header cut after its width
header '\001\000\140\000\100\000\010\000' | head -c 23 >"$work/header-23"
head -c 600 "$source/samples/sample8.bmp" >"$work/bitmap"

# The MIME database: name | file | type
mkdir -p "$work/share/mime/packages"
cp "$source/desktop/daz.xml" "$work/share/mime/packages/"
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
format 2|format2|application/octet-stream
text starting EW|text|text/plain
bitmap|bitmap|application/octet-stream"
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
format 2|format2|data|application/octet-stream|???
6 bytes of header|six-bytes|data|application/octet-stream|???
23 bytes of header|header-23|data|application/octet-stream|???
text starting EW|text|ASCII text|text/plain|???
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
exit $status
