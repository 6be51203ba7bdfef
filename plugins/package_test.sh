#!/usr/bin/env bash
# The plugins' Debian packages: each one's files in its host's folders, its
# section and its dependency on libdaz's package; then each plugin's own
# tests run on the packaged files, unpacked with libdaz's package.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION PACKAGE...
#   (the packages of the plugins this build made)
set -euo pipefail
build=$1 source=$2 version=$3
shift 3
major=${version%%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null 2>&1)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
gdk_loaders=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0 2>/dev/null || true)

# package | section | its files, but for directories and usr/share/doc
table="
daz-gdk-pixbuf|graphics|.$gdk_loaders/libpixbufloader-daz.so
  ./usr/share/applications/daz-eog.desktop ./usr/share/thumbnailers/daz-gdk-pixbuf.thumbnailer
  ./usr/share/lintian/overrides/daz-gdk-pixbuf
qt6-image-formats-plugin-daz|libs|./usr/lib/$multiarch/qt6/plugins/imageformats/libqdaz.so
qt5-image-formats-plugin-daz|libs|./usr/lib/$multiarch/qt5/plugins/imageformats/libqdaz.so
  ./usr/share/applications/daz-gwenview.desktop
  ./usr/share/lintian/overrides/qt5-image-formats-plugin-daz"
echo "$table" | sed '/^$/d' | awk '/^ / {line = line $0; next} {if (line) print line; line = $0}
  END {print line}' >"$work/table"
dpkg-deb -x "$work/libdaz${major}_${version}_$arch.deb" "$work/root"
for package in "$@"; do
  IFS='|' read -r _ section files < <(grep "^$package|" "$work/table") ||
    fail "$package: not in the table"
  deb="$work/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work")"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | grep -v '^\./usr/share/doc/' | sort >"$work/list"
  echo $files | tr ' ' '\n' | sort >"$work/expected"
  diff -u "$work/expected" "$work/list" || fail "$package: other files than expected"
  [ "$(dpkg-deb -f "$deb" Section)" = "$section" ] || fail "$package: section"
  dpkg-deb -f "$deb" Depends | grep -F "libdaz$major (>= $version)" >/dev/null ||
    fail "$package: not on libdaz$major: $(dpkg-deb -f "$deb" Depends)"
  dpkg-deb -x "$deb" "$work/root"
done

# The packaged plugins, with the packaged libdaz.
libdaz=$(find "$work/root" -name "libdaz.so.$major" -printf '%h\n' | head -n 1)
export LD_LIBRARY_PATH=$libdaz
for package in "$@"; do
  code=0
  case $package in
  daz-gdk-pixbuf) # 77: no python3-gi, as in its own test
    /usr/bin/python3 "$source/plugins/gdk-pixbuf/tests/loader_test.py" \
      "$work/root$gdk_loaders/libpixbufloader-daz.so" "$libdaz/libdaz.so.$major" \
      "$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$source" \
      >"$work/out" || code=$?
    [ "$code" -eq 0 ] || [ "$code" -eq 77 ] || fail "packaged gdk-pixbuf loader: $(cat "$work/out")" ;;
  qt[56]-image-formats-plugin-daz)
    qt=${package%%-*}
    QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$work/root/usr/lib/$multiarch/$qt/plugins" \
      "$build/plugins/qt/$qt-daz-test" "$source" "$build/pngdaz" >"$work/out" ||
      fail "packaged $qt plugin: $(cat "$work/out")" ;;
  esac
done
