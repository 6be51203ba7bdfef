#!/usr/bin/env bash
# The WIC codec's speed against Wine's own BMP decoder: a 4096 x 4096 image
# of 256 colours as an 8-bit bitmap (Pillow) and as a daz file (orvx -c),
# both decoded through the same WIC by bench/wic_speed.c, in alternating
# pairs, in a Wine prefix of its own where regsvr32 registered the codec.
# Usage: bench/wic_speed.sh [BUILD [PAIRS]]   (BUILD: the windows preset's, build/windows)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/windows}" && pwd)
pairs=${2:-15}
cmake --build "$build" --target wic_speed dazwic orvx >/dev/null
work="$build/wic-speed"
mkdir -p "$work"
export WINEDEBUG=-all WINEPREFIX="$work/prefix"
wine=/usr/lib/wine/wine64
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  $wine wineboot --init >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
/usr/bin/python3 - "$work/big.bmp" <<'PY'
import sys
import numpy as np
from PIL import Image
y, x = np.mgrid[0:4096, 0:4096]
noise = np.random.default_rng(7).integers(0, 8, (4096, 4096))
indices = ((x // 16 + y // 24 + noise) % 256).astype(np.uint8)
image = Image.fromarray(indices, "P")
image.putpalette([(i * 37 + c * 85) % 256 for i in range(256) for c in range(3)])
image.save(sys.argv[1])
PY
$wine "$build/orvx.exe" -c "$(windows_path "$work/big.bmp")" "$(windows_path "$work/big.daz")" 256 1f2e >/dev/null
$wine regsvr32 /s "$(windows_path "$build/plugins/wic/dazwic.dll")"
grep -m1 'model name' /proc/cpuinfo
$wine --version
ls -l "$work/big.bmp" "$work/big.daz" | awk '{print $5, $NF}'
$wine "$build/plugins/wic/wic_speed.exe" "$(windows_path "$work/big.daz")" "$(windows_path "$work/big.bmp")" "$pairs"
