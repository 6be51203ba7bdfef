#!/usr/bin/env bash
# The daz plug-in in GIMP 2.10 without a display: one gimp-console run, with
# a private GIMP folder whose gimprc points the plug-in path at the build's
# plug-in and Script-Fu, and one Script-Fu batch over every file. Files that
# orvx -c makes from the samples and the BMP Suite's palette bitmaps are
# opened (by content: gimp-file-load) and exported again (gimp-file-save):
# the same bytes. Then the export's arguments, its refusals, and the saved
# fuzz and hostile files, each opened as dazpng reads it or refused with
# GIMP's error, never a crash. Exit 77 (skipped) without gimp-console-2.10.
# Usage: plugin_test.sh PLUGIN_DIR ORVX DAZPNG SOURCE_DIR BMPSUITE
set -euo pipefail
plugins=$1 orvx=$2 dazpng=$3 source=$4 suite=$5
command -v gimp-console-2.10 >/dev/null || { echo "skipped: no gimp-console-2.10"; exit 77; }
system_plugins=$(pkg-config --variable=gimplibdir gimp-2.0 2>/dev/null || echo /usr/lib/gimp/2.0)/plug-ins
png_rgb="/usr/bin/python3 $(dirname "$0")/../../tests/png_rgb.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# GIMP in "Open With" for daz files: its entry valid, and GIO, given the MIME
# type and the entry in private XDG folders, lists it for image/x-daz.
desktop=$source/plugins/gimp/daz-gimp.desktop
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "daz-gimp.desktop: not valid"
fi
if command -v gio >/dev/null && command -v update-desktop-database >/dev/null; then
  mkdir -p "$work/share/mime/packages" "$work/share/applications"
  cp "$source/desktop/daz.xml" "$work/share/mime/packages"
  cp "$desktop" "$work/share/applications"
  XDG_DATA_HOME=$work/share update-mime-database "$work/share/mime" >/dev/null
  update-desktop-database "$work/share/applications"
  said=$(XDG_DATA_HOME=$work/share XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME=$work XDG_CONFIG_DIRS=$work \
    gio mime image/x-daz)
  grep -q 'daz-gimp\.desktop' <<<"$said" || fail "gio: GIMP not an application for image/x-daz: $said"
fi

# Round trips: bitmap | colours kept (0: all) | key
trips="
samples/sample8.bmp|0|0
samples/sample8.bmp|100|1f2e
samples/sample4.bmp|0|0
samples/sample4.bmp|10|ffff"
[ -f "$suite/g/pal8.bmp" ] || { echo "FAIL: no BMP Suite in $suite"; exit 1; }
for bitmap in "$suite"/g/pal[48]*.bmp; do
  trips+=$'\n'"$bitmap|0|0"
done
mkdir "$work/in" "$work/out" "$work/hostile"
scheme=$work/batch.scm
q() { printf '"%s"' "$1"; } # a Scheme string (the paths hold no quote)
cat >"$scheme" <<EOF
(define log (open-output-file $(q "$work/log")))
(define (say . words) (for-each (lambda (w) (display w log) (display " " log)) words) (newline log))
(define (open-image file) (car (gimp-file-load RUN-NONINTERACTIVE file file)))
(define (drawable-of image) (car (gimp-image-get-active-drawable image)))
(define (parasite image name) (caddr (car (gimp-image-get-parasite image name))))
(define (colormap image) ; its entries, and the last one's red, green, blue
  (let* ((map (gimp-image-get-colormap image)) (size (car map)) (bytes (cadr map)))
    (list (/ size 3) (vector-ref bytes (- size 3)) (vector-ref bytes (- size 2)) (vector-ref bytes (- size 1)))))
(define (trip name in out)
  (let ((image (open-image in)))
    (apply say name (parasite image "daz-key") (parasite image "daz-colors") (parasite image "daz-order")
           (colormap image))
    (gimp-file-save RUN-NONINTERACTIVE image (drawable-of image) out out)
    (gimp-image-delete image)))
(define (save name in out key colors)
  (let ((image (open-image in)))
    (say name (if (catch #f (file-daz-save RUN-NONINTERACTIVE image (drawable-of image) out out key colors) #t)
                  "saved" "refused"))
    (gimp-image-delete image)))
(define (hostile name in out)
  (let ((image (catch #f (car (file-daz-load RUN-NONINTERACTIVE in in)))))
    (say name (if image "opened" "refused"))
    (if image (begin (gimp-file-save RUN-NONINTERACTIVE image (drawable-of image) out out)
                     (gimp-image-delete image)))))
EOF
n=0
while IFS='|' read -r bitmap kept key; do
  [ -n "$bitmap" ] || continue
  n=$((n + 1))
  case $bitmap in /*) ;; *) bitmap=$source/$bitmap ;; esac
  "$orvx" -c "$bitmap" "$work/in/$n.daz" "$kept" "$key" >/dev/null || true
  echo "(trip \"trip$n\" $(q "$work/in/$n.daz") $(q "$work/out/$n.daz"))" >>"$scheme"
done <<<"$trips"
trips=$n
# Known by content, without the extension.
cp "$work/in/2.daz" "$work/in/noname"
echo "(trip \"tripnoname\" $(q "$work/in/noname") $(q "$work/out/noname.daz"))" >>"$scheme"

# The script's arguments. name | daz file | key | colours | what orvx -c writes for it, or "refused"
"$orvx" -c "$source/samples/sample8.bmp" "$work/ref200.daz" 200 1f2e >/dev/null
"$orvx" -c "$source/samples/sample8.bmp" "$work/ref10.daz" 10 0 >/dev/null
"$orvx" -c "$source/samples/sample8.bmp" "$work/ref100.daz" 100 abcd >/dev/null
saves="
key-and-colours|1.daz|1f2e|200|ref200.daz
colours-only|1.daz||10|ref10.daz
key-only|2.daz|abcd|0|ref100.daz
key-0x-and-blanks|1.daz| 0x1F2E |200|ref200.daz
key-not-hex|1.daz|xyz|0|refused
key-too-long|1.daz|12345|0|refused
colours-past-the-colormap|3.daz||17|refused
colours-past-256|1.daz||300|refused"
while IFS='|' read -r name daz key colours expected; do
  [ -n "$name" ] || continue
  echo "(save \"$name\" $(q "$work/in/$daz") $(q "$work/out/$name.daz") \"$key\" $colours)" >>"$scheme"
done <<<"$saves"
# A colormap cut to 16 entries under indices up to 255 (a script may leave
# one): those stay, undefined pixels, in 8 bits, as the opened file had them.
cat >>"$scheme" <<EOF
(let* ((image (open-image $(q "$work/ref10.daz"))) (out $(q "$work/out/colormap-16.daz")))
  (gimp-image-set-colormap image 48 (cadr (gimp-image-get-colormap image)))
  (say "colormap-16" (car (gimp-image-get-colormap image))
       (if (catch #f (file-daz-save RUN-NONINTERACTIVE image (drawable-of image) out out "" 0) #t)
           "saved" "refused")))
EOF
# An RGB image: refused without a dialog to convert it.
cat >>"$scheme" <<EOF
(let* ((image (car (gimp-image-new 4 4 RGB)))
       (layer (car (gimp-layer-new image 4 4 RGB-IMAGE "rgb" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image layer 0 0)
  (say "rgb" (if (catch #f (file-daz-save RUN-NONINTERACTIVE image layer $(q "$work/out/rgb.daz") $(q "$work/out/rgb.daz") "" 0) #t)
                 "saved" "refused")))
EOF

# Hostile and fuzz-saved files.
make() { printf 'EW\001\000%b' "$2" >"$work/hostile/$1"; head -c "$3" /dev/zero >>"$work/hostile/$1"; }
make 65535x32767 '\377\377\377\177\010\000\001\000' 20
make 65535x-32768 '\377\377\000\200\004\000\020\000' 200
make width-0 '\000\000\004\000\010\000\001\000' 40
cp "$source"/fuzz/regressions/{dazbmp,dazpng,inspect,api_decode,api_inspect}/* "$work/hostile/" 2>/dev/null || true
for file in "$work"/hostile/*; do
  name=$(basename "$file")
  echo "(hostile \"h-$name\" $(q "$file") $(q "$work/out/h-$name.daz"))" >>"$scheme"
done
echo "(close-output-port log)" >>"$scheme"

# GIMP with a private folder: the build's plug-in and Script-Fu only.
export GIMP2_DIRECTORY=$work/gimp
mkdir -p "$GIMP2_DIRECTORY/system" "$GIMP2_DIRECTORY/gradients"
ln -s "$system_plugins/script-fu" "$GIMP2_DIRECTORY/system/script-fu"
echo "(plug-in-path \"$plugins:$GIMP2_DIRECTORY/system\")" >"$GIMP2_DIRECTORY/gimprc"
gimp-console-2.10 -i -d -f -b "(load $(q "$scheme"))" -b '(gimp-quit 0)' >"$work/gimp.out" 2>&1 ||
  fail "gimp-console: exit $?"
if grep -qiE "crash|terminated|segmentation" "$work/gimp.out"; then
  fail "the plug-in crashed: $(grep -iE "crash|terminated|segmentation" "$work/gimp.out" | head -3)"
fi

for n in $(seq 1 "$trips") noname; do
  original=$work/in/$n.daz
  [ "$n" != noname ] || original=$work/in/noname
  read -r height colours key < <(/usr/bin/python3 -c "import struct,sys
print(*struct.unpack_from('<h2xhH', open(sys.argv[1],'rb').read(), 6))" "$original")
  order=bottom-up
  [ "$height" -gt 0 ] || order=top-down
  # The colormap: the palette, then the undefined colour up to the largest index.
  "$dazpng" "$original" "$work/trip.png" >/dev/null
  entries=$($png_rgb --indices "$work/trip.png" | od -An -v -tu1 | tr -s ' ' '\n' | sort -n | tail -1)
  entries=$((entries + 1 > colours ? entries + 1 : colours))
  last=$(od -An -tu1 -j $((24 + 4 * entries - 4)) -N 3 "$original" | xargs)
  [ "$entries" -eq "$colours" ] || last="255 0 255"
  expected=$(printf 'trip%s %04x %s %s %s %s' "$n" "$key" "$colours" "$order" "$entries" "$last")
  grep -qx "$expected " "$work/log" || fail "$n: opened as $(grep "^trip$n " "$work/log"), not $expected"
  cmp -s "$original" "$work/out/$n.daz" || fail "$n: exported again, not the same bytes"
done
while IFS='|' read -r name daz key colours expected; do
  [ -n "$name" ] || continue
  if [ "$expected" = refused ]; then
    grep -qx "$name refused " "$work/log" || fail "$name: $(grep "^$name " "$work/log")"
  else
    cmp -s "$work/$expected" "$work/out/$name.daz" || fail "$name: not what orvx -c writes"
  fi
done <<<"$saves"
grep -qx "colormap-16 48 saved " "$work/log" || fail "colormap of 16: $(grep "^colormap-16 " "$work/log")"
cmp -s "$work/ref10.daz" "$work/out/colormap-16.daz" || fail "colormap of 16: not the file opened"
grep -qx "rgb refused " "$work/log" || fail "an RGB image: $(grep "^rgb " "$work/log")"
grep -q "daz holds indexed images only" "$work/gimp.out" || fail "an RGB image: no message"
for file in "$work"/hostile/*; do
  name=h-$(basename "$file")
  if grep -qx "$name opened " "$work/log"; then
    "$dazpng" "$file" "$work/h.png" >/dev/null && "$dazpng" "$work/out/$name.daz" "$work/h.again.png" >/dev/null &&
      [ "$($png_rgb "$work/h.png" | md5sum)" = "$($png_rgb "$work/h.again.png" | md5sum)" ] ||
      fail "$name: opened, not as dazpng reads it"
  elif ! grep -qx "$name refused " "$work/log"; then
    fail "$name: no result"
  elif ! grep -qF "$(basename "$file")' can't be opened" "$work/gimp.out"; then
    fail "$name: refused without the plug-in's message"
  fi
done
exit $status
