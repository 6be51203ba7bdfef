#!/usr/bin/env bash
# Builds the Debian packages (libdaz1, libdaz-dev, orvx for version 1.x,
# and the plugins' for the hosts found),
# checks each one's files, fields, dependencies and control files, unpacks
# them and runs the packaged commands on the shipped sample.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION LIBDIR
set -euo pipefail
build=$1
source=$2
version=$3
libdir=usr/$4
major=${version%%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
arch=$(dpkg --print-architecture)

# package | section | its files, but for directories (the CMake export's
# per-configuration file as dazTargets-CONFIG.cmake; each package's
# copyright and changelog.gz as DOC)
packages="
libdaz$major|libs|./$libdir/libdaz.so.$major ./$libdir/libdaz.so.$version DOC
libdaz-dev|libdevel|./usr/include/daz/daz.h ./$libdir/cmake/daz/dazConfig.cmake
  ./$libdir/cmake/daz/dazConfigVersion.cmake ./$libdir/cmake/daz/dazTargets-CONFIG.cmake
  ./$libdir/cmake/daz/dazTargets.cmake ./$libdir/libdaz.a ./$libdir/libdaz.so
  ./$libdir/pkgconfig/daz.pc DOC
orvx|graphics|./usr/bin/dazbmp ./usr/bin/dazgif ./usr/bin/dazpng ./usr/bin/orvx ./usr/bin/pngdaz
  ./usr/bin/rgbdaz ./usr/bin/daz-thumbnailer ./usr/share/man/man1/dazbmp.1.gz
  ./usr/share/man/man1/dazgif.1.gz ./usr/share/man/man1/dazpng.1.gz
  ./usr/share/man/man1/orvx.1.gz ./usr/share/man/man1/pngdaz.1.gz ./usr/share/man/man1/rgbdaz.1.gz
  ./usr/share/man/man1/daz-thumbnailer.1.gz
  ./usr/share/mime/packages/daz.xml ./usr/share/orvx/daz.magic
  ./usr/share/thumbnailers/daz.thumbnailer DOC"
# The plugins' packages, for the hosts found at build time, put their files
# where the hosts themselves say they look.
components=$(sed -n 's/^set(CPACK_COMPONENTS_ALL "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
plugins=()
if [[ ";$components;" == *";imagemagick;"* ]]; then
  coders=$(convert-im6.q16 -list configure | awk '$1 == "CODER_PATH" {print $2}')
  packages+="
imagemagick-6-daz-coder|graphics|.$coders/daz.so .$coders/daz.la .${coders%/modules-Q16/coders}/config-Q16/magic.xml DOC"
  plugins+=(imagemagick-6-daz-coder)
fi
if [[ ";$components;" == *";gimp;"* ]]; then
  packages+="
gimp-plugin-daz|graphics|.$(pkg-config --variable=gimplibdir gimp-2.0)/plug-ins/file-daz/file-daz
  ./usr/share/applications/daz-gimp.desktop ./usr/share/lintian/overrides/gimp-plugin-daz DOC"
  plugins+=(gimp-plugin-daz)
fi
echo "$packages" | sed '/^$/d' | awk '/^ / {line = line $0; next} {if (line) print line; line = $0}
  END {print line}' >"$work/table"
# (The gdk-pixbuf and Qt plugins' packages beside them: plugins/installed_test.sh
# installs and uses them.)
core=$(ls "$work"/*.deb | grep -v -e '/daz-gdk-pixbuf_' -e '/qt[56]-image-formats-plugin-daz_' | wc -l)
[ "$core" -eq $((3 + ${#plugins[@]})) ] || fail "not $((3 + ${#plugins[@]})) packages: $(ls "$work")"
while IFS='|' read -r package section files; do
  deb="$work/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work")"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' |
    sed 's/dazTargets-[a-z]*\.cmake$/dazTargets-CONFIG.cmake/' | sort >"$work/list"
  echo $files | sed "s|DOC|./usr/share/doc/$package/changelog.gz ./usr/share/doc/$package/copyright|" |
    tr ' ' '\n' | sort >"$work/expected"
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
done < <(readelf -d "$work/root/$libdir/libdaz.so.$version" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
depends libdaz-dev | grep -F "libdaz$major (= $version)" >/dev/null || fail "libdaz-dev: not on libdaz$major $version"
depends libdaz-dev | grep libpng-dev >/dev/null || fail "libdaz-dev: no libpng-dev dependency"
depends orvx | grep libpng16 >/dev/null || fail "orvx: no libpng16 dependency"
# The commands link libdaz in; daz-thumbnailer links the shared library.
depends orvx | grep -F "libdaz$major (>= $version)" >/dev/null ||
  fail "orvx: not on libdaz$major $version, which daz-thumbnailer needs"
for command in orvx dazbmp pngdaz dazpng dazgif; do
  readelf -d "$work/root/usr/bin/$command" | grep -F libdaz >/dev/null &&
    fail "$command needs libdaz.so: the commands link it in"
done
for plugin in "${plugins[@]}"; do
  depends "$plugin" | grep -F "libdaz$major (>= $version)" >/dev/null || fail "$plugin: not on libdaz$major $version"
done
if [[ " ${plugins[*]} " == *" imagemagick-6-daz-coder "* ]]; then
  grep -qx "libdir='$coders'" "$work/root$coders/daz.la" && grep -qx "installed=yes" "$work/root$coders/daz.la" ||
    fail "imagemagick-6-daz-coder: daz.la names another folder"
fi
# The shared library's package tells dpkg-shlibdeps how to depend on it, and
# has libc's trigger run ldconfig, with no maintainer script of its own.
dpkg-deb -e "$work/libdaz${major}_${version}_$arch.deb" "$work/control"
grep -qx "libdaz $major libdaz$major (>= $version)" "$work/control/shlibs" ||
  fail "libdaz$major: shlibs is: $(cat "$work/control/shlibs" 2>/dev/null)"
grep -qx "activate-noawait ldconfig" "$work/control/triggers" ||
  fail "libdaz$major: triggers is: $(cat "$work/control/triggers" 2>/dev/null)"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "libdaz$major has a $script: $(cat "$work/control/$script")"
done
# Each package's copyright is LICENSE's text in Debian's form, and its
# changelog names the package's version.
while IFS='|' read -r package _; do
  doc="$work/root/usr/share/doc/$package"
  sed -n 's/^ //p' "$doc/copyright" | sed 's/^\.$//' >"$work/license"
  diff -u <(sed -n '/^Permission/,$p' "$source/LICENSE") "$work/license" ||
    fail "$package: copyright does not hold LICENSE's text"
  gzip -dc "$doc/changelog.gz" | head -n 1 | grep -F "orvx ($version)" >/dev/null ||
    fail "$package: changelog is not of $version"
done <"$work/table"

out=$("$work/root/usr/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s.daz" 200 1f2e)
expected=$'Nell\'immagine ci sono 1437 pixel non definiti\n\nOperazione riuscita'
[ "$out" = "$expected" ] || fail "packaged orvx printed: $out"
"$work/root/usr/bin/dazbmp" "$work/s.daz" "$work/s.bmp" >/dev/null
cmp -s <(tail -c 6144 "$work/s.bmp") <(tail -c 6144 "$source/samples/sample8.bmp") ||
  fail "packaged dazbmp did not give the sample's pixels back"
"$work/root/usr/bin/dazpng" "$work/s.daz" "$work/s.png" >/dev/null
"$work/root/usr/bin/pngdaz" "$work/s.png" "$work/t.daz" 200 1f2e >/dev/null
cmp -s "$work/s.daz" "$work/t.daz" || fail "packaged dazpng and pngdaz did not round-trip"
"$work/root/usr/bin/daz-thumbnailer" -s 32 "$work/s.daz" \
  "$work/thumb.png" || fail "packaged daz-thumbnailer failed"
echo "packages ok: $(cd "$work" && ls ./*.deb | tr '\n' ' ')"
