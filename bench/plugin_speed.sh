#!/usr/bin/env bash
# Loading an 8192 x 8192 8-bit image as daz and as an uncompressed 8-bit BMP
# in ImageMagick 6 (convert x null:, a process each) and in GIMP 2.10 (one
# gimp-console batch timing each file-*-load call with gettimeofday), with
# the build's plugins. Paired runs, the order alternating; prints the medians
# in seconds and the processor.
# Usage: bench/plugin_speed.sh BUILD_DIR [PAIRS]   (default 9 pairs)
set -euo pipefail
build=$(realpath "$1")
pairs=${2:-9}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
median() { sort -n | awk '{v[NR] = $1} END {printf "%.2f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The image: a BMP of 256 colours (14 + 40 + 1024 bytes of headers, rows of
# 8192 bytes), and orvx -c's daz file of it with a key.
/usr/bin/python3 - "$work/x.bmp" <<'PY'
import random, struct, sys
side = 8192
random.seed(5)
palette = bytes(random.randrange(256) if i % 4 != 3 else 0 for i in range(1024))
offset = 14 + 40 + 1024
with open(sys.argv[1], "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", offset + side * side, 0, 0, offset))
    f.write(struct.pack("<IiiHHIIiiII", 40, side, side, 1, 8, 0, side * side, 2835, 2835, 256, 0))
    f.write(palette)
    base = bytes((x * 7 // 64) & 255 for x in range(side))
    for y in range(side):
        shift = (y * 13 // 64) & 255
        f.write(base[shift:] + base[:shift])
PY
"$build/orvx" -c "$work/x.bmp" "$work/x.daz" 0 1f2e >/dev/null
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | xargs), $(nproc) cores"

if command -v convert-im6.q16 >/dev/null && [ -f "$build/plugins/imagemagick/daz.so" ]; then
  coders=$(convert-im6.q16 -list configure | awk '$1 == "CODER_PATH" {print $2}')
  export MAGICK_CODER_MODULE_PATH="$build/plugins/imagemagick:$coders"
  export MAGICK_CONFIGURE_PATH="$build/plugins/imagemagick"
  seconds() { /usr/bin/time -f %e convert-im6.q16 "$1" null: 2>&1 >/dev/null | tail -1; }
  for i in $(seq "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then
      seconds "$work/x.daz" >>"$work/im.daz"; seconds "$work/x.bmp" >>"$work/im.bmp"
    else
      seconds "$work/x.bmp" >>"$work/im.bmp"; seconds "$work/x.daz" >>"$work/im.daz"
    fi
  done
  echo "ImageMagick $(convert-im6.q16 -version | sed -n 's/^Version: ImageMagick \([^ ]*\).*/\1/p'):" \
       "daz $(median <"$work/im.daz") s, BMP $(median <"$work/im.bmp") s"
fi

if command -v gimp-console-2.10 >/dev/null && [ -x "$build/plugins/gimp/plug-ins/file-daz/file-daz" ]; then
  system=$(pkg-config --variable=gimplibdir gimp-2.0 2>/dev/null || echo /usr/lib/gimp/2.0)/plug-ins
  export GIMP2_DIRECTORY=$work/gimp
  mkdir -p "$GIMP2_DIRECTORY/system"
  ln -s "$system/script-fu" "$system/file-bmp" "$GIMP2_DIRECTORY/system/"
  echo "(plug-in-path \"$build/plugins/gimp/plug-ins:$GIMP2_DIRECTORY/system\")" >"$GIMP2_DIRECTORY/gimprc"
  cat >"$work/speed.scm" <<EOF
(define log (open-output-file "$work/gimp.log"))
(define (now) (let ((t (gettimeofday))) (+ (car t) (/ (cadr t) 1000000.0))))
(define (timed kind load file)
  (let* ((start (now)) (image (car (load RUN-NONINTERACTIVE file file))))
    (display kind log) (display " " log) (display (- (now) start) log) (newline log)
    (gimp-image-delete image)))
(define (pairs i)
  (if (<= i $pairs)
      (begin
        (if (odd? i)
            (begin (timed "daz" file-daz-load "$work/x.daz") (timed "bmp" file-bmp-load "$work/x.bmp"))
            (begin (timed "bmp" file-bmp-load "$work/x.bmp") (timed "daz" file-daz-load "$work/x.daz")))
        (pairs (+ i 1)))))
(pairs 1)
(close-output-port log)
EOF
  gimp-console-2.10 -i -d -f -b "(load \"$work/speed.scm\")" -b '(gimp-quit 0)' >/dev/null 2>&1
  echo "GIMP $(gimp-console-2.10 --version | awk '{print $NF}'):" \
       "daz $(awk '$1 == "daz" {print $2}' "$work/gimp.log" | median) s," \
       "BMP $(awk '$1 == "bmp" {print $2}' "$work/gimp.log" | median) s"
fi
