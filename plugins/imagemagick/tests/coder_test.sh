#!/usr/bin/env bash
# The DAZ coder through ImageMagick 6's own commands, taken from the build
# folder (MAGICK_CODER_MODULE_PATH, and MAGICK_CONFIGURE_PATH for its
# magic.xml): identify, convert both ways against dazpng and pngdaz, -colors
# and the defines, mogrify, and the saved fuzz and hostile files, each
# refused with ImageMagick's error. Exit 77 (skipped) without ImageMagick.
# Usage: coder_test.sh CODER_DIR ORVX PNGDAZ DAZPNG SOURCE_DIR BMPSUITE
set -euo pipefail
coder=$1 orvx=$2 pngdaz=$3 dazpng=$4 source=$5 suite=$6/g
# ImageMagick 6 Q16's own commands, by the names Debian gives them.
command -v convert-im6.q16 >/dev/null || { echo "skipped: no ImageMagick 6 Q16 (convert-im6.q16)"; exit 77; }
convert() { convert-im6.q16 "$@"; }
identify() { identify-im6.q16 "$@"; }
compare() { compare-im6.q16 "$@"; }
mogrify() { mogrify-im6.q16 "$@"; }
system_coders=$(convert -list configure | awk '$1 == "CODER_PATH" {print $2}')
export MAGICK_CODER_MODULE_PATH="$coder:$system_coders" MAGICK_CONFIGURE_PATH="$coder"
png_rgb="/usr/bin/python3 $(dirname "$0")/../../tests/png_rgb.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
header() { # the daz file's width, height, bits, colours, key
  /usr/bin/python3 -c "import struct,sys; print(*struct.unpack_from('<HhHhH', open(sys.argv[1],'rb').read(), 4))" "$1"
}

# Reading. bitmap | colours kept (0: all) | key | rows kept of a cut-short file (-: all)
reads="
samples/sample8.bmp|0|0|-
samples/sample8.bmp|100|1f2e|-
samples/sample4.bmp|10|ffff|-
samples/sample4.bmp|0|0|-
suite/pal8topdown.bmp|0|0|-
suite/pal8topdown.bmp|0|0|9
samples/sample8.bmp|0|0|10
suite/pal4rle.bmp|5|12|-
suite/pal8os2.bmp|0|0|-
suite/pal8w125.bmp|0|0|-"
n=0
while IFS='|' read -r bitmap kept key rows; do
  [ -n "$bitmap" ] || continue
  n=$((n + 1))
  bitmap=${bitmap/#suite/$suite}
  case $bitmap in /*) ;; *) bitmap=$source/$bitmap ;; esac
  daz=$work/$n.daz
  "$orvx" -c "$bitmap" "$daz" "$kept" "$key" >/dev/null || true
  if [ "$rows" != - ]; then # whole rows and half of the next one
    /usr/bin/python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); w,h,b,c=struct.unpack_from('<HhHh',d,4)
r=(w*b+31)//32*4; open(sys.argv[1],'wb').write(d[:24+4*c+r*$rows+r//2])" "$daz"
  fi
  read -r width height bits colours stored_key < <(header "$daz")
  [ "$rows" != - ] || rows=${height#-}
  order=bottom-up
  [ "$height" -gt 0 ] || order=top-down
  expected=$(printf 'DAZ %s %s %04x %s %s' "$width" "$rows" "$stored_key" "$colours" "$order")
  said=$(identify -format '%m %w %h %[daz:key] %[daz:colors] %[daz:order]' "$daz") || true
  [ "$said" = "$expected" ] || fail "case $n identify: $said, not $expected"
  "$dazpng" "$daz" "$work/$n.ref.png" >/dev/null
  convert "$daz" "$work/$n.png" || fail "case $n: convert to PNG"
  $png_rgb "$work/$n.ref.png" >"$work/$n.expected"
  convert "$work/$n.png" -depth 8 rgb:"$work/$n.rgb"
  cmp -s "$work/$n.expected" "$work/$n.rgb" || fail "case $n: pixels differ from dazpng's"
  # shellcheck disable=SC2002 # a pipe on standard input, whose size is unknown
  cat "$daz" | convert daz:- -depth 8 rgb:- | cmp -s - "$work/$n.expected" || fail "case $n: from a pipe"
  if [ "$rows" = "${height#-}" ]; then # read and written again, the same bytes
    convert "$daz" "$work/$n.again.daz" && cmp -s "$daz" "$work/$n.again.daz" ||
      fail "case $n: written again, not the same file"
  fi
done <<<"$reads"

# Known by content, without extension.
cp "$work/1.daz" "$work/noname"
[ "$(identify -format %m "$work/noname")" = DAZ ] || fail "a daz file without extension"

# Writing PseudoClass PNGs: pngdaz's bytes. png | defines | pngdaz's colours and key
writes="
1.ref.png||
1.ref.png|-define daz:key=1f2e -define daz:colors=200|200 1f2e
4.ref.png||
4.ref.png|-define daz:colors=3 -define daz:key=F|3 f
5.ref.png||
9.ref.png|-define daz:colors=0|0"
n=0
while IFS='|' read -r png defines arguments; do
  [ -n "$png" ] && [ -f "$work/$png" ] || continue
  n=$((n + 1))
  # shellcheck disable=SC2086
  convert "$work/$png" $defines "$work/w$n.daz" || fail "write $n: convert"
  # shellcheck disable=SC2086
  "$pngdaz" "$work/$png" "$work/w$n.ref.daz" $arguments >/dev/null
  cmp -s "$work/w$n.ref.daz" "$work/w$n.daz" || fail "write $n ($png $defines): not pngdaz's bytes"
done <<<"$writes"

# A true-colour image: -colors reduces it, the key is the define's.
convert rose: "$work/rose.png"
convert "$work/rose.png" -colors 200 -define daz:key=1f2e "$work/rose.daz" || fail "-colors 200"
read -r width height bits colours stored_key < <(header "$work/rose.daz")
[ "$bits $stored_key" = "8 7982" ] && [ "$colours" -le 200 ] || fail "-colors 200 wrote $bits bits, key $stored_key"
convert "$work/rose.png" -colors 200 "$work/rose200.ppm"
[ "$(compare -metric AE -fuzz 0.5% "$work/rose.daz" "$work/rose200.ppm" null: 2>&1)" = 0 ] ||
  fail "-colors 200: not the reduced image"
# Few colours without a palette: made PseudoClass, pixels kept, 4 bits.
convert -size 16x9 gradient:red-blue -depth 8 -colors 9 PNG24:"$work/rgb.png"
convert "$work/rgb.png" "$work/rgb.daz" || fail "a true-colour PNG of 9 colours"
[ "$(header "$work/rgb.daz" | cut -d' ' -f3,4)" = "4 9" ] || fail "9 colours: $(header "$work/rgb.daz")"
[ "$(compare -metric AE "$work/rgb.daz" "$work/rgb.png" null: 2>&1)" = 0 ] || fail "9 colours: pixels"

# Refusals: ImageMagick's error, exit 1, no file. image | defines | words of the message
refusals="
rose.png||reduce them first with -colors N
1.ref.png|-define daz:key=12345|daz:key
1.ref.png|-define daz:key=xyz|daz:key
1.ref.png|-define daz:colors=300|daz:colors
1.ref.png|-define daz:colors=-1|daz:colors
4.ref.png|-define daz:colors=17|colour count out of range
1.ref.png|-define daz:order=sideways|daz:order"
while IFS='|' read -r image defines words; do
  [ -n "$image" ] || continue
  code=0
  # shellcheck disable=SC2086
  said=$(convert "$work/$image" $defines "$work/refused.daz" 2>&1) || code=$?
  [ "$code" -eq 1 ] && [[ $said == *"$words"* ]] || fail "$image $defines: exit $code, $said"
  [ ! -e "$work/refused.daz" ] || fail "$image $defines left a file"
done <<<"$refusals"

# mogrify: every PNG of a folder to daz.
mkdir "$work/m"
cp "$work/1.ref.png" "$work/4.ref.png" "$work/rgb.png" "$work/m/"
(cd "$work/m" && mogrify -format daz ./*.png) || fail "mogrify"
for png in "$work"/m/*.png; do
  [ "$(compare -metric AE "$png" "${png%.png}.daz" null: 2>&1)" = 0 ] || fail "mogrify: $png"
done

# Hostile and fuzz-saved files: a decoded image equals dazpng's, anything
# else is ImageMagick's error (exit 1), never a signal.
mkdir "$work/h"
make() { printf 'EW\001\000%b' "$2" >"$work/h/$1"; head -c "$3" /dev/zero >>"$work/h/$1"; }
make 65535x32767 '\377\377\377\177\010\000\001\000' 20
make 65535x-32768 '\377\377\000\200\004\000\020\000' 200
make width-0 '\000\000\004\000\010\000\001\000' 40
make 17-colours-at-4-bits '\004\000\004\000\004\000\021\000' 120
for file in "$work"/h/* "$source"/fuzz/regressions/{dazbmp,dazpng,inspect,api_decode,api_inspect}/*; do
  code=0
  said=$(convert "daz:$file" -depth 8 rgb:"$work/h.rgb" 2>&1) || code=$?
  if [ "$code" -eq 0 ]; then
    "$dazpng" "$file" "$work/h.png" >/dev/null && $png_rgb "$work/h.png" | cmp -s - "$work/h.rgb" ||
      fail "$file: pixels differ from dazpng's"
  elif [ "$code" -ne 1 ] || [[ $said != convert*"$file"* ]]; then
    fail "$file: exit $code, $said"
  fi
done
exit $status
