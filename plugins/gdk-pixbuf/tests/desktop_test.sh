#!/usr/bin/env bash
# The loader's desktop files in private XDG folders, as Debian's triggers
# leave them (update-mime-database, update-desktop-database, the loaders
# cache): GIO's default application for image/x-daz is the eog entry, and
# the thumbnailer entry's Exec line, run as a file manager runs it, makes a
# thumbnail of the asked size.
# Usage: desktop_test.sh PLUGIN_SOURCE_DIR DAZ_XML LOADER QUERY_LOADERS ORVX SAMPLE
# Exit 77 (skipped) without eog, gio or the databases' tools.
set -euo pipefail
plugin=$1 daz_xml=$2 loader=$3 query_loaders=$4 orvx=$5 sample=$6
for tool in eog gio update-mime-database update-desktop-database gdk-pixbuf-thumbnailer; do
  command -v "$tool" >/dev/null || { echo "skipped, no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

mkdir -p "$work/share/mime/packages" "$work/share/applications" "$work/config"
cp "$daz_xml" "$work/share/mime/packages/"
cp "$plugin/daz-eog.desktop" "$work/share/applications/"
export XDG_DATA_HOME="$work/share" XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME="$work/config" \
  XDG_CONFIG_DIRS="$work/config" GDK_PIXBUF_MODULE_FILE="$work/loaders.cache"
update-mime-database "$work/share/mime"
update-desktop-database "$work/share/applications"
"$query_loaders" "$loader" >"$work/loaders.cache"
"$orvx" -c "$sample" "$work/image.daz" >/dev/null

default=$(gio mime image/x-daz)
default=${default%%$'\n'*}
[ "$default" = 'Default application for “image/x-daz”: daz-eog.desktop' ] ||
  fail "default application: $default"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$plugin/daz-eog.desktop" || fail "daz-eog.desktop is not valid"
fi

# The thumbnailer entry: its Exec line with the size, URI and output put in.
exec_line=$(sed -n 's/^Exec=//p' "$plugin/daz-gdk-pixbuf.thumbnailer")
grep -qx 'MimeType=image/x-daz;' "$plugin/daz-gdk-pixbuf.thumbnailer" || fail "thumbnailer: MIME type"
# size | thumbnail's width x height
while IFS='|' read -r size expected; do
  command=${exec_line//%s/$size}
  command=${command//%u/file://$work/image.daz}
  command=${command//%o/$work/thumbnail.png}
  rm -f "$work/thumbnail.png"
  $command || fail "thumbnailer -s $size: exit $?"
  got=$(file -b "$work/thumbnail.png" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
  [ "$got" = "$expected" ] || fail "thumbnailer -s $size: $got, not $expected"
done <<'EOF'
48|48x32
128|128x85
EOF
exit $status
