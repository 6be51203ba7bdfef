#!/usr/bin/env bash
# Seeds the fuzz corpora from the BMP Suite and the samples.
# Usage: fuzz/seed_corpus.sh OUT_DIR   (makes OUT_DIR/convert, /inspect and /dazbmp)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$1
mkdir -p "$out/convert" "$out/inspect" "$out/dazbmp"
n=0
for bmp in "$here"/../shared/bmpsuite/*/*.bmp "$here"/samples/*.bmp; do
  n=$((n + 1))
  # count 0 / key 0x1f2e, and count 9 / key 0.
  { printf '\000\000\056\037'; cat "$bmp"; } > "$out/convert/seed-$n-a"
  { printf '\011\000\000\000'; cat "$bmp"; } > "$out/convert/seed-$n-b"
  "$here"/build-fuzz/orvx -c "$bmp" "$out/inspect/seed-$n.daz" 5 abcd >/dev/null || true
done
cp "$out"/inspect/* "$out/dazbmp/"
for kind in convert inspect dazbmp; do
  cp "$here/fuzz/regressions/$kind/"* "$out/$kind/"
done
