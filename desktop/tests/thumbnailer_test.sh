#!/usr/bin/env bash
# daz-thumbnailer on daz files that orvx makes from the samples and the BMP
# Suite's top-down bitmap: edges, aspect, and, unscaled, every pixel against
# the bitmap's own colours (magenta past the kept palette); then hostile
# files and command lines: each one message, exit 255, and the destination
# left as it was, with nothing beside it.
# Usage: thumbnailer_test.sh "EMULATOR" THUMBNAILER ORVX SOURCE_DIR BMPSUITE
set -euo pipefail
emulator=$1 thumbnailer=$2 orvx=$3 source=$4 suite=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
thumb() { $emulator "$thumbnailer" "$@"; }

# bitmap | colours kept (0: all) | rows kept of a cut-short file (-: all) | -s
cases="
samples/sample8.bmp|0|-|128
samples/sample8.bmp|0|-|96
samples/sample8.bmp|200|-|128
samples/sample4.bmp|10|-|64
samples/sample8.bmp|0|10|128
samples/sample8.bmp|0|-|32
samples/sample8.bmp|0|-|48
samples/sample4.bmp|0|-|15
samples/sample4.bmp|0|-|7
samples/sample4.bmp|0|-|1
topdown|0|-|128
topdown|0|9|128
topdown|0|-|50"
n=0
while IFS='|' read -r bitmap kept rows size; do
  [ -n "$bitmap" ] || continue
  n=$((n + 1))
  if [ "$bitmap" = topdown ]; then
    bitmap=$suite/g/pal8topdown.bmp
  else
    bitmap=$source/$bitmap
  fi
  daz=$work/$n.daz
  $emulator "$orvx" -c "$bitmap" "$daz" "$kept" >/dev/null || true
  if [ "$rows" != - ]; then
    # Whole rows and half of the next one.
    python_cut="import struct,sys; d=open(sys.argv[1],'rb').read(); w,h,b,c=struct.unpack_from('<HhHh',d,4)
r=(w*b+31)//32*4; open(sys.argv[1],'wb').write(d[:24+4*c+r*$rows+r//2])"
    /usr/bin/python3 -c "$python_cut" "$daz"
  fi
  out=$(thumb -s "$size" "$daz" "$work/$n.png") || fail "case $n: exit $?: $out"
  [ -z "$out" ] || fail "case $n printed: $out"
  /usr/bin/python3 - "$bitmap" "$daz" "$work/$n.png" "$size" "$rows" <<'PY' || fail "case $n: $bitmap -s $size"
import struct, sys
from PIL import Image, ImageChops, ImageStat
bitmap, daz, png, size, rows = sys.argv[1:]
header = open(daz, "rb").read(24)
height, colours = struct.unpack_from("<h", header, 6)[0], struct.unpack_from("<h", header, 10)[0]
source = Image.open(bitmap)
if rows != "-":  # a cut-short file keeps the rows stored first
    rows = int(rows)
    top = 0 if height < 0 else source.height - rows
    source = source.crop((0, top, source.width, top + rows))
w, h = source.size
thumb = Image.open(png)
tw, th = thumb.size
assert thumb.mode == "RGB", thumb.mode
assert max(tw, th) == min(int(size), max(w, h)) and min(tw, th) >= 1, (tw, th)
assert abs(tw * h - th * w) <= max(w, h) / 2, ("aspect", tw, th, w, h)
palette = source.getpalette()
expected = Image.new("RGB", source.size)
expected.putdata([tuple(palette[3 * i:3 * i + 3]) if i < colours else (255, 0, 255)
                  for i in source.getdata()])
if (tw, th) == (w, h):
    assert list(thumb.getdata()) == list(expected.getdata()), "pixels differ"
else:
    difference = ImageChops.difference(thumb, expected.resize((tw, th), Image.BOX))
    if w % tw == 0 and h % th == 0:  # whole boxes: the mean of each, rounded
        bx, by, pixels = w // tw, h // th, expected.load()
        for y in range(th):
            for x in range(tw):
                box = [pixels[x * bx + i, y * by + j] for i in range(bx) for j in range(by)]
                mean = tuple((sum(p[k] for p in box) + len(box) // 2) // len(box) for k in range(3))
                assert thumb.getpixel((x, y)) == mean, (x, y, thumb.getpixel((x, y)), mean)
    else:  # near Pillow's boxes, which weigh the pixels they cut; flipped is far
        assert max(ImageStat.Stat(difference).mean) < 25, ImageStat.Stat(difference).mean
PY
done <<<"$cases"

# Hostile files: name | what to write | message
daz=$work/1.daz
header() { printf 'EW\001\000%b' "$1"; head -c "$2" /dev/zero; }
hostile="
empty|:|Il file e' piu' corto dell'intestazione e della tavolozza
cut in the palette|head -c 100 \"\$daz\"|Il file e' piu' corto dell'intestazione e della tavolozza
24 bytes, 65535 x 32767|header '\377\377\377\177\010\000\001\000' 12|Il file e' piu' corto dell'intestazione e della tavolozza
65535 x 32767, one colour|header '\377\377\377\177\010\000\001\000' 20|L'immagine e' troppo grande per farne una miniatura
16 bits per pixel|header '\004\000\004\000\020\000\001\000' 40|L'immagine daz non ha 4 o 8 bit per pixel
no colours|header '\004\000\004\000\010\000\000\000' 40|Il numero di colori dell'immagine daz non e' valido
17 colours at 4 bits|header '\004\000\004\000\004\000\021\000' 120|Il numero di colori dell'immagine daz non e' valido
less than a row|header '\004\000\004\000\010\000\001\000' 17|L'immagine daz non ha nemmeno una riga intera di pixel
width 0|header '\000\000\004\000\010\000\001\000' 40|L'immagine daz non ha nemmeno una riga intera di pixel
random bytes|awk 'BEGIN {srand(7); for (i = 0; i < 3000; i++) printf \"%c\", int(rand() * 256)}'|Il file non sembra un'immagine daz
a bitmap|cat \"\$source/samples/sample8.bmp\"|Il file non sembra un'immagine daz"
n=0
check_failure() { # name, expected message, output folder, then the arguments
  local name=$1 message=$2 folder=$3 out code before
  shift 3
  before=$(ls -A "$folder")
  code=0
  out=$(thumb "$@") || code=$?
  [ "$code" -eq 255 ] || fail "$name: exit $code"
  [ "$out" = "$message - Operazione non riuscita" ] || fail "$name printed: $out"
  [ "$(ls -A "$folder")" = "$before" ] || fail "$name left: $(ls -A "$folder")"
  [ "$(cat "$folder/old.png")" = old ] || fail "$name changed the destination"
}
fresh() { rm -rf "$work/out"; mkdir "$work/out"; echo old >"$work/out/old.png"; }
while IFS='|' read -r name command message; do
  [ -n "$name" ] || continue
  LC_ALL=C eval "$command" >"$work/hostile"
  fresh
  check_failure "$name" "$message" "$work/out" "$work/hostile" "$work/out/old.png"
done <<<"$hostile"

# Inputs and outputs that can't be: name | input | output | message
fresh
mkdir "$work/out/folder"
mkfifo "$work/out/fifo"
cp "$daz" "$work/kept.daz"
places="
no such input|$work/none.daz|$work/out/old.png|Impossibile aprire il file
a folder as input|$work|$work/out/old.png|Errore di lettura
output in no folder|$daz|$work/out/none/t.png|Impossibile creare il file
output a folder|$daz|$work/out/folder|Impossibile creare il file
output a FIFO|$daz|$work/out/fifo|Impossibile creare il file
output the input|$work/out/old.png|$work/out/old.png|Il file non sembra un'immagine daz
output the daz file|$daz|$daz|Impossibile creare il file"
while IFS='|' read -r name input output message; do
  [ -n "$name" ] || continue
  check_failure "$name" "$message" "$work/out" "$input" "$output"
done <<<"$places"
cmp -s "$daz" "$work/kept.daz" || fail "the daz file changed"
[ -p "$work/out/fifo" ] || fail "the FIFO was replaced"

# A write that fails: refused (SIGXFSZ ignored) or killed (not): either way
# nothing is left.
for disposition in ignored -; do
  fresh
  code=0
  said=$([ "$disposition" = - ] || trap '' XFSZ; ulimit -f 0; thumb "$daz" "$work/out/old.png" 2>/dev/null) ||
    code=$?
  [ "$code" -ne 0 ] || fail "write past ulimit -f ($disposition): exit 0"
  if [ "$disposition" != - ]; then
    [ "$said" = "Errore di scrittura - Operazione non riuscita" ] ||
      fail "write past ulimit -f printed: $said"
  fi
  [ "$(ls -A "$work/out")" = old.png ] || fail "write past ulimit -f ($disposition) left: $(ls -A "$work/out")"
  [ "$(cat "$work/out/old.png")" = old ] || fail "write past ulimit -f ($disposition) changed the destination"
done

# Command lines: arguments | exit status | what is printed (usage: the
# usage text) | the thumbnail's edges (-: none written)
usage="Uso: daz-thumbnailer [-s dimensione] immagine.daz miniatura.png  (dimensione: 1..1024, predefinita 128)"
cp "$daz" "$work/-d.daz"
lines="
|255|usage|-
$daz|255|usage|-
-s 64 $daz|255|usage|-
-s 0 $daz t.png|255|usage|-
-s 1025 $daz t.png|255|usage|-
-s x $daz t.png|255|usage|-
-s -5 $daz t.png|255|usage|-
-s 12x $daz t.png|255|usage|-
-s12x $daz t.png|255|usage|-
-s|255|usage|-
$daz t.png extra|255|usage|-
-x $daz t.png|255|usage|-
--help|0|usage|-
--help $daz t.png|255|usage|-
--helpme|255|usage|-
-- -s 48 $daz t.png|255|usage|-
-s 48 $daz t.png|0||48x32
-s48 $daz t.png|0||48x32
-s48 -- $daz t.png|0||48x32
-s 48 -s 32 $daz t.png|0||32x21
-- -d.daz t.png|0||96x64
-s 40 -- -d.daz t.png|0||40x27"
while IFS='|' read -r arguments want said edges; do
  [ -n "$want" ] || continue
  [ "$said" = usage ] && said=$usage
  rm -f "$work/t.png"
  code=0
  # shellcheck disable=SC2086
  out=$(cd "$work" && thumb $arguments) || code=$?
  [ "$code" -eq "$want" ] && [ "$out" = "$said" ] || fail "arguments '$arguments': exit $code, $out"
  if [ "$edges" = - ]; then
    [ ! -e "$work/t.png" ] || fail "arguments '$arguments' wrote t.png"
  else
    got=$(/usr/bin/python3 -c 'import sys; from PIL import Image; print("%dx%d" % Image.open(sys.argv[1]).size)' "$work/t.png") ||
      got=none
    [ "$got" = "$edges" ] || fail "arguments '$arguments': thumbnail $got, not $edges"
  fi
done <<<"$lines"
exit $status
