#!/usr/bin/env bash
# Builds the Debian package, checks its file list, unpacks it and runs the
# packaged orvx and dazbmp on the shipped sample.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sort > "$work/list"
for path in ./usr/bin/orvx ./usr/bin/dazbmp ./usr/share/man/man1/orvx.1 ./usr/share/man/man1/dazbmp.1; do
  grep -qx "$path" "$work/list" || { echo "missing from the package: $path"; cat "$work/list"; exit 1; }
done

dpkg-deb -x "$deb" "$work/root"
out=$("$work/root/usr/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s.daz" 200 1f2e)
expected=$'Nell\'immagine ci sono 1437 pixel non definiti\n\nOperazione riuscita'
[ "$out" = "$expected" ] || { echo "packaged orvx printed: $out"; exit 1; }
"$work/root/usr/bin/dazbmp" "$work/s.daz" "$work/s.bmp" >/dev/null
cmp -s <(tail -c 6144 "$work/s.bmp") <(tail -c 6144 "$source/samples/sample8.bmp") ||
  { echo "packaged dazbmp did not give the sample's pixels back"; exit 1; }
echo "package ok: $(basename "$deb")"
