#!/usr/bin/env bash
# Seeds the fuzz corpora from the BMP Suite, the samples and the test PNGs;
# the photo readers' from their saved inputs (fuzz/regressions/jpeg, ...).
# Usage: fuzz/seed_corpus.sh OUT_DIR [BUILD_DIR]   (makes OUT_DIR/KIND for
# each target; BUILD_DIR, build/fuzz by default, holds the orvx it runs)
# Needs Pillow and ImageMagick. The BMP Suite is read from $ORVX_BMPSUITE,
# by default the tree's tests/data/bmpsuite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$1
build=${2:-$here/build/fuzz}
suite=${ORVX_BMPSUITE:-$here/tests/data/bmpsuite}
kinds=(convert inspect dazbmp pngdaz dazpng api_inspect api_decode api_roundtrip api_rgba gif tiff netpbm jpeg webp heif)
for kind in "${kinds[@]}"; do mkdir -p "$out/$kind"; done
[ -f "$suite/g/pal8.bmp" ] || { echo "no BMP Suite in $suite" >&2; exit 1; }
bitmaps=("$suite"/*/*.bmp "$here"/samples/*.bmp)
n=0
for bmp in "${bitmaps[@]}"; do
  n=$((n + 1))
  # count 0 / key 0x1f2e, and count 9 / key 0.
  { printf '\000\000\056\037'; cat "$bmp"; } > "$out/convert/seed-$n-a"
  { printf '\011\000\000\000'; cat "$bmp"; } > "$out/convert/seed-$n-b"
  "$build"/orvx -c "$bmp" "$out/inspect/seed-$n.daz" 5 abcd >/dev/null || true
  [ "$(stat -c %s "$bmp")" -ge 100000 ] || cp "$bmp" "$out/api_rgba/seed-$n.bmp"
done
# The same daz files for every target that reads one (the round trip takes
# any bytes).
for kind in dazbmp dazpng api_inspect api_decode api_roundtrip api_rgba; do
  cp "$out"/inspect/* "$out/$kind/"
done
pngs=$(mktemp -d)
trap 'rm -rf "$pngs"' EXIT
/usr/bin/python3 "$here/tests/png_cases.py" "$pngs" "$(command -v convert || true)"
for png in "$pngs"/*.png; do
  [ "$(stat -c %s "$png")" -lt 100000 ] || continue # the fuzzer's inputs stay small
  name=$(basename "$png" .png)
  { printf '\000\000\056\037'; cat "$png"; } > "$out/pngdaz/$name-a"
  { printf '\003\000\000\000'; cat "$png"; } > "$out/pngdaz/$name-b"
done
# Images of every kind for the RGBA readers.
/usr/bin/python3 "$here/tests/bmp_cases.py" "$pngs"
/usr/bin/python3 "$here/tests/png_rgba_cases.py" "$pngs" "$(command -v convert)"
for image in "$pngs"/*.bmp "$pngs"/*.png; do
  [ "$(stat -c %s "$image")" -ge 100000 ] || cp "$image" "$out/api_rgba/"
done
for kind in "${kinds[@]}"; do
  cp "$here/fuzz/regressions/$kind/"* "$out/$kind/"
done
