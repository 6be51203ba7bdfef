#!/usr/bin/env bash
# Builds the Debian package, checks its file list, unpacks it and runs the
# packaged commands on the shipped sample.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sort > "$work/list"
for name in orvx dazbmp pngdaz dazpng; do
  for path in ./usr/bin/$name ./usr/share/man/man1/$name.1; do
    grep -qx "$path" "$work/list" || { echo "missing from the package: $path"; cat "$work/list"; exit 1; }
  done
done
dpkg-deb -f "$deb" Depends | grep -q libpng16 || { echo "no libpng16 dependency"; exit 1; }

dpkg-deb -x "$deb" "$work/root"
out=$("$work/root/usr/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s.daz" 200 1f2e)
expected=$'Nell\'immagine ci sono 1437 pixel non definiti\n\nOperazione riuscita'
[ "$out" = "$expected" ] || { echo "packaged orvx printed: $out"; exit 1; }
"$work/root/usr/bin/dazbmp" "$work/s.daz" "$work/s.bmp" >/dev/null
cmp -s <(tail -c 6144 "$work/s.bmp") <(tail -c 6144 "$source/samples/sample8.bmp") ||
  { echo "packaged dazbmp did not give the sample's pixels back"; exit 1; }
"$work/root/usr/bin/dazpng" "$work/s.daz" "$work/s.png" >/dev/null
"$work/root/usr/bin/pngdaz" "$work/s.png" "$work/t.daz" 200 1f2e >/dev/null
cmp -s "$work/s.daz" "$work/t.daz" || { echo "packaged dazpng and pngdaz did not round-trip"; exit 1; }
echo "package ok: $(basename "$deb")"
