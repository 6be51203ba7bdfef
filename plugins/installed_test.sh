#!/usr/bin/env bash
# For .ci/run, as root, once libdaz's and orvx's packages are installed: the
# plugins' packages installed for real and used from /usr as programs find
# them, with no private folder, through the caches the hosts' dpkg triggers
# rebuilt; then taken away again.
# Usage: installed_test.sh DEB_DIR BUILD_DIR SOURCE_DIR
set -euo pipefail
debs=$1 build=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
packages=()
debs_found=()
for deb in "$debs"/daz-gdk-pixbuf_*.deb "$debs"/qt[56]-image-formats-plugin-daz_*.deb; do
  [ -f "$deb" ] && packages+=("$(dpkg-deb -f "$deb" Package)") && debs_found+=("$deb")
done
[ "${#packages[@]}" -gt 0 ] || { echo "no plugin packages in $debs"; exit 0; }
dpkg -i "${debs_found[@]}" >/dev/null
trap 'dpkg -P "${packages[@]}" >/dev/null; rm -rf "$work"' EXIT
"$build/orvx" -c "$source/samples/sample8.bmp" "$work/s.daz" 200 1f2e >/dev/null
cp "$work/s.daz" "$work/no-extension"

for package in "${packages[@]}"; do
  case $package in
  daz-gdk-pixbuf)
    # libgdk-pixbuf-2.0-0's trigger put the loader in the system's cache.
    grep -q libpixbufloader-daz.so "$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)"
    /usr/bin/python3 - "$work/no-extension" <<'PY'
import sys, gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf
pixbuf = GdkPixbuf.Pixbuf.new_from_file(sys.argv[1])
assert (pixbuf.get_width(), pixbuf.get_height()) == (96, 64), pixbuf
assert pixbuf.get_option("daz::key") == "1f2e", pixbuf.get_options()
PY
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/thumbnailers/daz-gdk-pixbuf.thumbnailer)
    exec_line=${exec_line//%s/64}
    exec_line=${exec_line//%u/file://$work/s.daz}
    ${exec_line//%o/$work/thumbnail.png}
    file -b "$work/thumbnail.png" | grep '^PNG image data, 64 x 43,'
    if command -v eog >/dev/null; then # desktop-file-utils' trigger indexed the entry
      gio mime image/x-daz | grep -F 'daz-eog.desktop'
    fi ;;
  qt[56]-image-formats-plugin-daz)
    # The whole test program on the installed plugin, from Qt's own folder.
    qt=${package%%-*}
    QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$(dpkg -L "$package" | grep '/imageformats/libqdaz.so$' |
      xargs dirname | xargs dirname)" "$build/plugins/qt/$qt-daz-test" "$source" "$build/pngdaz" ;;
  esac
done
# Qt 6 programs find the plugin where Qt looks by itself.
if [[ " ${packages[*]} " == *" qt6-image-formats-plugin-daz "* ]]; then
  /usr/bin/python3 - "$work/no-extension" <<'PY'
import sys
from PyQt6.QtCore import QBuffer, QByteArray, QIODevice
from PyQt6.QtGui import QImage, QImageReader, QImageWriter
reader = QImageReader(sys.argv[1])
assert bytes(reader.format()) == b"daz", reader.errorString()
image = reader.read()
assert image.format() == QImage.Format.Format_Indexed8, reader.errorString()
assert image.text("key") == "1f2e" and image.text("colors") == "200"
written = QByteArray()
buffer = QBuffer(written)
buffer.open(QIODevice.OpenModeFlag.WriteOnly)
assert QImageWriter(buffer, b"daz").write(image)
assert bytes(written) == open(sys.argv[1], "rb").read(), "written again: other bytes"
PY
fi
echo "plugins installed and used: ${packages[*]}"
