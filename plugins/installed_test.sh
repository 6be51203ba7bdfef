#!/usr/bin/env bash
# For .ci/run, as root, once libdaz's and orvx's packages are installed: the
# plugins' packages installed for real, each one's files where its host looks
# and its dependency on libdaz's package checked, each plugin's own tests run
# on the installed files, and Python programs finding them with no help;
# then the packages taken away again.
# Usage: installed_test.sh DEB_DIR BUILD_DIR SOURCE_DIR
set -euo pipefail
debs=$1 build=$2 source=$3
major=$(sed -n 's/^#define DAZ_VERSION_MAJOR //p' "$source/include/daz/daz.h")
mapfile -t found < <(ls "$debs"/daz-gdk-pixbuf_*.deb "$debs"/qt[56]-image-formats-plugin-daz_*.deb 2>/dev/null)
[ "${#found[@]}" -gt 0 ] || { echo "no plugin packages in $debs"; exit 0; }
packages=()
for deb in "${found[@]}"; do
  packages+=("$(dpkg-deb -f "$deb" Package)")
  dpkg-deb -f "$deb" Depends | grep -q "libdaz$major (>= " || { echo "FAIL: $deb: no libdaz$major"; exit 1; }
done
dpkg -i "${found[@]}" >/dev/null
work=$(mktemp -d)
trap 'dpkg -P "${packages[@]}" >/dev/null; rm -rf "$work"' EXIT
"$build/orvx" -c "$source/samples/sample8.bmp" "$work/no-extension" 200 1f2e >/dev/null
libdaz=$(dpkg -L "libdaz$major" | grep "/libdaz.so.$major\$")

for package in "${packages[@]}"; do
  case $package in
  daz-gdk-pixbuf)
    loader=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)/libpixbufloader-daz.so
    dpkg -L "$package" | grep -qx "$loader"
    # libgdk-pixbuf-2.0-0's trigger put it in the system's loaders cache.
    grep -q "$loader" "$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)"
    /usr/bin/python3 "$source/plugins/gdk-pixbuf/tests/loader_test.py" "$loader" "$libdaz" \
      "$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$source"
    /usr/bin/python3 -c 'import sys, gi; gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf
assert GdkPixbuf.Pixbuf.new_from_file(sys.argv[1]).get_option("daz::key") == "1f2e"' \
      "$work/no-extension" ;;
  qt[56]-image-formats-plugin-daz)
    qt=${package%%-*}
    plugins=$(if [ "$qt" = qt6 ]; then qmake6 -query QT_INSTALL_PLUGINS; else qmake -query QT_INSTALL_PLUGINS; fi)
    dpkg -L "$package" | grep -qx "$plugins/imageformats/libqdaz.so"
    QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=$plugins "$build/plugins/qt/$qt-daz-test" \
      "$source" "$build/pngdaz" "$build/rgbdaz" ;;
  esac
done
if [[ " ${packages[*]} " == *" qt6-image-formats-plugin-daz "* ]]; then
  /usr/bin/python3 -c 'import sys; from PyQt6.QtGui import QImageReader
reader = QImageReader(sys.argv[1])
assert bytes(reader.format()) == b"daz" and reader.read().text("key") == "1f2e"' \
    "$work/no-extension"
fi
echo "installed and used: ${packages[*]}"
