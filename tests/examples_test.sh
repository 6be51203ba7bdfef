#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds examples/ out of the
# tree against it, four ways: find_package with daz::daz and with
# daz::daz_static, pkg-config with the shared and the static library. Each
# build's programs then read daz files made by the installed orvx: daz_info
# must print their header, daz_to_pam their pixels as ImageMagick reads them
# from dazbmp's bitmap of the same file.
# Usage: examples_test.sh BUILD_DIR SOURCE_DIR IMAGEMAGICK_CONVERT
set -euo pipefail
build=$1
source=$2
convert=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
examples="$source/examples"
cmake_build() { # FOLDER STATIC
  cmake -S "$examples" -B "$work/$1" -DCMAKE_PREFIX_PATH="$prefix" -DDAZ_EXAMPLES_STATIC="$2" \
    -DCMAKE_BUILD_TYPE=Release >"$work/$1.log" 2>&1 &&
    cmake --build "$work/$1" >>"$work/$1.log" 2>&1 || { cat "$work/$1.log"; fail "$1: build failed"; }
}
make_build() { # FOLDER STATIC
  mkdir "$work/$1"
  PKG_CONFIG_PATH="$prefix/lib/pkgconfig" make -C "$work/$1" -f "$examples/Makefile" STATIC="$2" \
    CFLAGS="-O2 -Wall -Wextra -pedantic -Werror" >"$work/$1.log" 2>&1 ||
    { cat "$work/$1.log"; fail "$1: build failed"; }
}
cmake_build cmake-shared OFF
cmake_build cmake-static ON
make_build pkg-config-shared 0
make_build pkg-config-static 1
grep -- -DDAZ_STATIC "$work/pkg-config-static.log" >/dev/null ||
  fail "pkg-config --static --cflags daz: no DAZ_STATIC"

# The inputs: the samples at 4 and 8 bits, with a key; one with fewer
# colours kept than its pixels use.
"$prefix/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s8.daz" 256 1f2e >/dev/null
"$prefix/bin/orvx" -c "$source/samples/sample4.bmp" "$work/s4.daz" 16 0 >/dev/null
"$prefix/bin/orvx" -c "$source/samples/sample8.bmp" "$work/s8-200.daz" 200 ffff >/dev/null
# image | header lines daz_info must print
cases="
s8|width 96|height 64 (bottom-up)|rows 64|bits 8|colors 256|key 0x1f2e|row size 96|trailing 0
s4|width 45|height 30 (bottom-up)|rows 30|bits 4|colors 16|key 0x0000|row size 24|trailing 0
s8-200|width 96|height 64 (bottom-up)|bits 8|colors 200|key 0xffff"
for folder in cmake-shared cmake-static pkg-config-shared pkg-config-static; do
  bin="$work/$folder"
  for program in daz_info daz_to_pam; do
    if [[ $folder == *static ]]; then
      ldd "$bin/$program" | grep libdaz && fail "$folder/$program loads libdaz.so"
    else
      LD_LIBRARY_PATH="$prefix/lib" ldd "$bin/$program" | grep "libdaz.so.1 => $prefix/lib/" >/dev/null ||
        fail "$folder/$program does not load the installed libdaz.so.1"
    fi
  done
  while IFS='|' read -r image expected; do
    [ -n "$image" ] || continue
    daz="$work/$image.daz"
    LD_LIBRARY_PATH="$prefix/lib" "$bin/daz_info" "$daz" >"$work/info"
    IFS='|' read -r -a lines <<<"$expected"
    for line in "${lines[@]}"; do
      grep -qxF "$line" "$work/info" || { cat "$work/info"; fail "$folder/daz_info $image: no '$line'"; }
    done
    # The palette: one line per entry, 0 to colors - 1.
    colors=$(sed -n 's/^colors //p' "$work/info")
    [ "$(grep -cE '^ *[0-9]+( +[0-9]+){4}$' "$work/info")" = "$colors" ] ||
      fail "$folder/daz_info $image: not $colors palette lines"

    # Pixels: the PAM's and the PPM's against dazbmp's bitmap, as ImageMagick
    # reads each (past the kept palette, dazbmp's bitmap has no colour to
    # compare with; there the PAM must hold opaque magenta).
    "$prefix/bin/dazbmp" "$daz" "$work/$image.bmp" >/dev/null
    LD_LIBRARY_PATH="$prefix/lib" "$bin/daz_to_pam" "$daz" "$work/out.pam"
    LD_LIBRARY_PATH="$prefix/lib" "$bin/daz_to_pam" -p "$daz" "$work/out.ppm"
    "$convert" "$work/out.pam" -depth 8 rgba:"$work/pam.rgba"
    "$convert" "$work/out.ppm" -depth 8 rgb:"$work/ppm.rgb"
    "$convert" "$work/out.pam" -alpha off -depth 8 rgb:"$work/pam.rgb"
    cmp -s "$work/pam.rgb" "$work/ppm.rgb" || fail "$folder/daz_to_pam $image: PAM and PPM differ"
    if [ "$image" = s8-200 ]; then
      python3 - "$work/pam.rgba" <<'PY' || fail "$folder/daz_to_pam $image: wrong pixels"
import sys
rgba = open(sys.argv[1], "rb").read()
magenta = sum(1 for i in range(0, len(rgba), 4) if rgba[i:i + 4] == b"\xff\x00\xff\xff")
sys.exit(0 if magenta == 1437 else f"{magenta} magenta pixels, not 1437")
PY
    else
      "$convert" "$work/$image.bmp" -depth 8 rgba:"$work/bmp.rgba"
      cmp -s "$work/pam.rgba" "$work/bmp.rgba" || fail "$folder/daz_to_pam $image: not dazbmp's pixels"
    fi
  done <<<"$cases"
done
echo "examples ok: four builds, three images"
