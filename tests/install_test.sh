#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree to
# another folder, and runs every installed program there, as a user would,
# with nothing telling the loader where libdaz.so is: each must find what it
# needs by itself (a program on the shared libdaz, the one in the tree) and
# succeed. Each program in bin/ must have a run in the table.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"

# program | arguments, in order (@W: the work folder, @S: the source tree)
runs="
orvx|-c @S/samples/sample8.bmp @W/s.daz 200 1f2e
orvx|-r @W/s.daz
dazbmp|@W/s.daz @W/s.bmp
dazpng|@W/s.daz @W/s.png
dazgif|@W/s.daz @W/s.gif
pngdaz|@W/s.png @W/t.daz 200 1f2e
rgbdaz|-d @S/samples/sample8.bmp @W/r.daz 16 1f2e
daz-thumbnailer|-s 32 @W/s.daz @W/thumbnail.png"
comm -23 <(ls "$prefix/bin" | sort) <(echo "$runs" | cut -d'|' -f1 | sort -u) >"$work/untried"
[ ! -s "$work/untried" ] || fail "installed, and not run here: $(cat "$work/untried")"

while IFS='|' read -r program arguments; do
  [ -n "$program" ] || continue
  read -r -a words <<<"$arguments"
  words=("${words[@]//@W/$work}")
  words=("${words[@]//@S/$source}")
  if ldd "$prefix/bin/$program" 2>/dev/null | grep libdaz >"$work/loads"; then
    grep -F "=> $prefix/" "$work/loads" >/dev/null ||
      fail "$program loads libdaz from elsewhere: $(cat "$work/loads")"
  fi
  status=0
  env -u LD_LIBRARY_PATH "$prefix/bin/$program" "${words[@]}" >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "$program $arguments: exit $status: $(cat "$work/out")"
done <<<"$runs"
echo "installed programs ran: $(ls "$prefix/bin" | tr '\n' ' ')"

# Each plugin installed, loaded from the moved prefix by its host, pointed
# there as docs/apps.md says: it must find the prefix's libdaz by itself.
# A sanitizer build's plugins need its runtime preloaded into the host: not
# tried. host | plugin's file under the prefix
grep -q '^CMAKE_CXX_FLAGS:.*-fsanitize' "$build/CMakeCache.txt" && exit 0
plugins="
gdk-pixbuf|lib/*/gdk-pixbuf-2.0/*/loaders/libpixbufloader-daz.so
qt6|lib/*/qt6/plugins/imageformats/libqdaz.so
qt5|lib/*/qt5/plugins/imageformats/libqdaz.so
imagemagick|lib/*/ImageMagick-*/modules-Q16/coders/daz.so
gimp|lib/gimp/2.0/plug-ins/file-daz/file-daz"
clean=(env -u LD_LIBRARY_PATH -u XDG_DATA_DIRS -u XDG_DATA_HOME HOME="$work/home"
       QT_QPA_PLATFORM=offscreen)
mkdir "$work/home"
loaded=()
while IFS='|' read -r host pattern; do
  [ -n "$host" ] || continue
  # shellcheck disable=SC2206 # the pattern is meant to expand
  files=("$prefix"/$pattern)
  [ -e "${files[0]}" ] || continue
  plugin=${files[0]}
  status=0
  case $host in
  gdk-pixbuf) # the recipe of docs/apps.md, its P= line aside
    recipe=$(sed -n '/^    P=\/usr\/local/,/^$/s/^    //p' "$source/docs/apps.md" | grep -v '^P=')
    "${clean[@]}" P="$prefix" bash -euc "$recipe"'
      exec /usr/bin/python3 -c "import sys, gi; gi.require_version(\"GdkPixbuf\", \"2.0\")
from gi.repository import GdkPixbuf
assert GdkPixbuf.Pixbuf.new_from_file(sys.argv[1]).get_option(\"daz::key\") == \"1f2e\"" "$0"' \
      "$work/s.daz" >"$work/out" 2>&1 || status=$? ;;
  qt[56])
    "${clean[@]}" QT_PLUGIN_PATH="${plugin%/imageformats/*}" \
      "$build/plugins/qt/$host-load-time" 1 "$work/s.daz" >"$work/out" 2>&1 || status=$? ;;
  imagemagick)
    command -v identify-im6.q16 >/dev/null || continue
    system_coders=$(convert-im6.q16 -list configure | awk '$1 == "CODER_PATH" {print $2}')
    config=$(dirname "$plugin")/../../config-Q16
    "${clean[@]}" MAGICK_CODER_MODULE_PATH="$(dirname "$plugin"):$system_coders" \
      MAGICK_CONFIGURE_PATH="$config" identify-im6.q16 -format '%m %w' "$work/s.daz" >"$work/out" 2>&1 ||
      status=$?
    grep -q '^DAZ 96$' "$work/out" || status=1 ;;
  gimp) # run by hand, a plug-in says so and exits 1; unloadable, 127
    "${clean[@]}" "$plugin" >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 1 ] && grep -q 'GIMP plug-in' "$work/out" && status=0 ;;
  esac
  [ "$status" -eq 0 ] || fail "$host: $plugin: not loaded: $(cat "$work/out")"
  loaded+=("$host")
done <<<"$plugins"
echo "installed plugins loaded: ${loaded[*]}"
