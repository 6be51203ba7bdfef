#!/usr/bin/env bash
# Builds the Debian packages (libdaz0, libdaz-dev, orvx), checks each one's
# files, fields and dependencies, unpacks them and runs the packaged commands
# on the shipped sample.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1
source=$2
version=$3
major=${version%%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
arch=$(dpkg --print-architecture)

# package | section | its files, but for directories (the CMake export's
# per-configuration file as dazTargets-CONFIG.cmake)
packages="
libdaz$major|libs|./usr/lib/libdaz.so.$major ./usr/lib/libdaz.so.$version
libdaz-dev|libdevel|./usr/include/daz/daz.h ./usr/lib/cmake/daz/dazConfig.cmake
  ./usr/lib/cmake/daz/dazConfigVersion.cmake ./usr/lib/cmake/daz/dazTargets-CONFIG.cmake
  ./usr/lib/cmake/daz/dazTargets.cmake ./usr/lib/libdaz.a ./usr/lib/libdaz.so
  ./usr/lib/pkgconfig/daz.pc
orvx|graphics|./usr/bin/dazbmp ./usr/bin/dazpng ./usr/bin/orvx ./usr/bin/pngdaz
  ./usr/bin/daz-thumbnailer ./usr/share/man/man1/dazbmp.1 ./usr/share/man/man1/dazpng.1
  ./usr/share/man/man1/orvx.1 ./usr/share/man/man1/pngdaz.1 ./usr/share/man/man1/daz-thumbnailer.1
  ./usr/share/mime/packages/daz.xml ./usr/share/orvx/daz.magic
  ./usr/share/thumbnailers/daz.thumbnailer"
echo "$packages" | sed '/^$/d' | awk '/^ / {line = line $0; next} {if (line) print line; line = $0}
  END {print line}' >"$work/table"
# (The plugins' packages beside them: plugins/package_test.sh.)
core=$(ls "$work"/*.deb | grep -v -e '/daz-gdk-pixbuf_' -e '/qt[56]-image-formats-plugin-daz_' | wc -l)
[ "$core" -eq 3 ] || fail "not three packages: $(ls "$work")"
while IFS='|' read -r package section files; do
  deb="$work/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work")"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' |
    sed 's/dazTargets-[a-z]*\.cmake$/dazTargets-CONFIG.cmake/' | sort >"$work/list"
  echo $files | tr ' ' '\n' | sort >"$work/expected"
  diff -u "$work/expected" "$work/list" || fail "$package: other files than expected"
  [ "$(dpkg-deb -f "$deb" Section)" = "$section" ] || fail "$package: section $(dpkg-deb -f "$deb" Section)"
  [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "$package: no description"
  dpkg-deb -x "$deb" "$work/root"
done <"$work/table"

# (grep reads all its input: with -q, an early exit would fail the pipe.)
depends() { dpkg-deb -f "$work/${1}_${version}_$arch.deb" Depends; }
# Each library libdaz.so needs comes with a dependency on its package (the
# one for this machine, not a cross compiler's copy).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
while read -r needed; do
  owner=$(dpkg -S "*/$multiarch/$needed" | head -n 1 | cut -d: -f1)
  depends "libdaz$major" | grep -w "$owner" >/dev/null || fail "libdaz$major needs $needed but not $owner"
done < <(readelf -d "$work/root/usr/lib/libdaz.so.$version" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
depends libdaz-dev | grep -F "libdaz$major (= $version)" >/dev/null || fail "libdaz-dev: not on libdaz$major $version"
depends libdaz-dev | grep libpng-dev >/dev/null || fail "libdaz-dev: no libpng-dev dependency"
depends orvx | grep libpng16 >/dev/null || fail "orvx: no libpng16 dependency"
# The commands link libdaz in; daz-thumbnailer links the shared library.
depends orvx | grep -F "libdaz$major (>= $version)" >/dev/null ||
  fail "orvx: not on libdaz$major $version, which daz-thumbnailer needs"
for command in orvx dazbmp pngdaz dazpng; do
  readelf -d "$work/root/usr/bin/$command" | grep -F libdaz >/dev/null &&
    fail "$command needs libdaz.so: the commands link it in"
done
# The shared library's package tells dpkg-shlibdeps how to depend on it.
dpkg-deb -e "$work/libdaz${major}_${version}_$arch.deb" "$work/control"
grep -qx "libdaz $major libdaz$major (>= $version)" "$work/control/shlibs" ||
  fail "libdaz$major: shlibs is: $(cat "$work/control/shlibs" 2>/dev/null)"

out=$("$work/root/usr/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s.daz" 200 1f2e)
expected=$'Nell\'immagine ci sono 1437 pixel non definiti\n\nOperazione riuscita'
[ "$out" = "$expected" ] || fail "packaged orvx printed: $out"
"$work/root/usr/bin/dazbmp" "$work/s.daz" "$work/s.bmp" >/dev/null
cmp -s <(tail -c 6144 "$work/s.bmp") <(tail -c 6144 "$source/samples/sample8.bmp") ||
  fail "packaged dazbmp did not give the sample's pixels back"
"$work/root/usr/bin/dazpng" "$work/s.daz" "$work/s.png" >/dev/null
"$work/root/usr/bin/pngdaz" "$work/s.png" "$work/t.daz" 200 1f2e >/dev/null
cmp -s "$work/s.daz" "$work/t.daz" || fail "packaged dazpng and pngdaz did not round-trip"
LD_LIBRARY_PATH="$work/root/usr/lib" "$work/root/usr/bin/daz-thumbnailer" -s 32 "$work/s.daz" \
  "$work/thumb.png" || fail "packaged daz-thumbnailer failed"
echo "packages ok: $(cd "$work" && ls ./*.deb | tr '\n' ' ')"
