#!/usr/bin/env bash
# Builds zlib and libpng, as static libraries, for a cross target, from
# Debian's source packages, into build/deps/TARGET: what pngdaz and dazpng
# link on Windows, aarch64 and s390x, and the web page's WebAssembly module,
# where Debian ships no libpng for the build machine to link (emscripten's
# own ports would download theirs).
# Usage: cmake/cross_deps.sh windows|arm64|s390x|web
# Needs a deb-src line for Debian's archive (see .ci/run) and dpkg-dev.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=$1
toolchain="$here/cmake/toolchains/$target.cmake"
case $target in
  windows) cc=x86_64-w64-mingw32-gcc-posix ar=x86_64-w64-mingw32-ar zflags= ;;
  arm64) cc=aarch64-linux-gnu-gcc ar=aarch64-linux-gnu-ar zflags=-DHAVE_UNISTD_H ;;
  s390x) cc=s390x-linux-gnu-gcc ar=s390x-linux-gnu-ar zflags=-DHAVE_UNISTD_H ;;
  web) cc=emcc ar=emar zflags="-DHAVE_UNISTD_H -msimd128" ;;
  *) echo "no toolchain for '$target'" >&2; exit 2 ;;
esac
sources="$here/build/deps/src"
prefix="$here/build/deps/$target"
work="$here/build/deps/work-$target"

# The source package, unpacked once into $sources/NAME. The newest version
# first; an older one when the archive no longer serves the newest's files.
fetch() {
  local package=$1 name=$2
  [ -d "$sources/$name" ] && return 0
  mkdir -p "$sources/download-$package"
  local version
  for version in $(apt-cache showsrc "$package" | awk '/^Version:/ {print $2}' | sort -urV); do
    if (cd "$sources/download-$package" && apt-get source -qq "$package=$version" >/dev/null 2>&1); then
      local unpacked
      unpacked=$(find "$sources/download-$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
      mv "$unpacked" "$sources/$name"
      rm -rf "$sources/download-$package"
      return 0
    fi
    rm -rf "${sources:?}/download-$package"/*
  done
  echo "cannot fetch the source of $package (is there a deb-src line?)" >&2
  exit 1
}

# Configures one CMake project for the target, to be installed in $prefix.
configure() {
  local name=$1
  shift
  cmake -S "$sources/$name" -B "$work/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORVX_DEPS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" \
    >"$work/$name.log" 2>&1 || { cat "$work/$name.log"; exit 1; }
}

if [ -f "$prefix/include/png.h" ]; then
  echo "zlib and libpng for $target: already in $prefix"
  exit 0
fi
fetch zlib zlib
fetch libpng1.6 libpng
mkdir -p "$work/zlib" "$prefix/lib" "$prefix/include"
# zlib: its library's sources compiled straight (its own build wants Windows
# resources that Debian's source leaves out).
cp "$sources/zlib/zlib.h" "$prefix/include/"
cp "$sources/zlib/zconf.h" "$prefix/include/zconf.h" 2>/dev/null ||
  cp "$sources/zlib/zconf.h.in" "$prefix/include/zconf.h"
for file in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
            inftrees trees uncompr zutil; do
  "$cc" -O2 -fPIC $zflags -I"$prefix/include" -c "$sources/zlib/$file.c" -o "$work/zlib/$file.o"
done
"$ar" rcs "$prefix/lib/libz.a" "$work"/zlib/*.o
configure libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DPNG_TOOLS=OFF -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DPNG_ARM_NEON=off -DSKIP_INSTALL_PROGRAMS=ON \
  -DSKIP_INSTALL_EXECUTABLES=ON
cmake --build "$work/libpng" >/dev/null
cmake --install "$work/libpng" >/dev/null
rm -rf "$work"
echo "zlib and libpng for $target: built into $prefix"
