#!/usr/bin/env bash
# Builds the libraries libdaz links, as static, position-independent
# libraries, for a cross target, from Debian's source packages, into
# build/deps/TARGET: zlib and libpng (pngdaz, dazpng), and the image-format
# libraries (cmake/format_libraries.cmake): giflib, libjpeg-turbo, libwebp
# with libwebpdemux and libtiff (with zlib and jpeg) on Windows, aarch64 and
# s390x; giflib alone for the web page's WebAssembly module, where the
# browser decodes the other formats itself. Debian ships none of these for
# the build machine to link into a Windows or WebAssembly program, and its
# .a files for arm64 and s390x, built as amd64's are, would not go into
# libdaz.so: amd64's libjpeg.a and libtiff.a are not position-independent
# (emscripten's own ports would download theirs).
# Each library is built once: one already in the prefix is left as it is.
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


# Builds the given targets of a project configured by configure(), its
# output shown only if it fails.
build() {
  local name=$1
  shift
  cmake --build "$work/$name" "$@" >>"$work/$name.log" 2>&1 || { cat "$work/$name.log"; exit 1; }
}

# Whether a library is already in the prefix, known by the header that is
# put there last.
have() {
  if [ -f "$prefix/include/$2" ]; then
    echo "$1 for $target: already in $prefix"
    return 0
  fi
  return 1
}

mkdir -p "$work" "$prefix/lib" "$prefix/include"
built=()
# done_building NAME: NAME is built, in the seconds since the last one.
started=$SECONDS
done_building() {
  built+=("$1 ($((SECONDS - started)) s)")
  started=$SECONDS
}

if ! have "zlib and libpng" png.h; then
  fetch zlib zlib
  fetch libpng1.6 libpng
  mkdir -p "$work/zlib"
  # zlib: its library's sources compiled straight (its own build wants Windows
  # resources that Debian's source leaves out), by one compiler run (emcc
  # takes a while to start).
  cp "$sources/zlib/zlib.h" "$prefix/include/"
  cp "$sources/zlib/zconf.h" "$prefix/include/zconf.h" 2>/dev/null ||
    cp "$sources/zlib/zconf.h.in" "$prefix/include/zconf.h"
  files=()
  for file in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
              inftrees trees uncompr zutil; do
    files+=("$sources/zlib/$file.c")
  done
  (cd "$work/zlib" && "$cc" -O2 -fPIC $zflags -I"$prefix/include" -c "${files[@]}")
  "$ar" rcs "$prefix/lib/libz.a" "$work"/zlib/*.o
  configure libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_TOOLS=OFF -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="$prefix/include" -DPNG_ARM_NEON=off -DSKIP_INSTALL_PROGRAMS=ON \
    -DSKIP_INSTALL_EXECUTABLES=ON
  build libpng
  cmake --install "$work/libpng" >/dev/null
  done_building "zlib and libpng"
fi

# giflib: its library's eight sources compiled straight, as zlib's (its build
# is a Makefile for the build machine).
if ! have giflib gif_lib.h; then
  fetch giflib giflib
  mkdir -p "$work/giflib"
  files=()
  for file in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
    files+=("$sources/giflib/$file.c")
  done
  (cd "$work/giflib" && "$cc" -std=gnu99 -O2 -fPIC -c "${files[@]}")
  "$ar" rcs "$prefix/lib/libgif.a" "$work"/giflib/*.o
  cp "$sources/giflib/gif_lib.h" "$prefix/include/"
  done_building giflib
fi

if [ "$target" != web ]; then
  # libjpeg-turbo: the libjpeg library alone (no TurboJPEG, no programs).
  # Its SIMD code wants nasm on x86-64 and has none for s390x; on aarch64
  # it is NEON intrinsics, which the cross compiler builds as it is.
  if ! have libjpeg-turbo jpeglib.h; then
    fetch libjpeg-turbo libjpeg-turbo
    simd=OFF
    [ "$target" = arm64 ] && simd=ON
    configure libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
      -DWITH_SIMD=$simd -DWITH_JAVA=OFF
    build libjpeg-turbo --target jpeg-static
    cp "$work/libjpeg-turbo/libjpeg.a" "$prefix/lib/"
    cp "$work/libjpeg-turbo/jconfig.h" "$sources/libjpeg-turbo/jmorecfg.h" \
       "$sources/libjpeg-turbo/jerror.h" "$prefix/include/"
    cp "$sources/libjpeg-turbo/jpeglib.h" "$prefix/include/"
    done_building libjpeg-turbo
  fi

  # libwebp: the decoder and encoder library and the demuxer (animations'
  # frames), without its tools and libwebpmux.
  if ! have "libwebp and libwebpdemux" webp/demux.h; then
    fetch libwebp libwebp
    configure libwebp -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
      -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF \
      -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF \
      -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
    build libwebp --target webp webpdemux
    cp "$work/libwebp/libwebp.a" "$work/libwebp/libwebpdemux.a" "$prefix/lib/"
    mkdir -p "$prefix/include/webp"
    for header in decode encode types mux_types demux; do
      cp "$sources/libwebp/src/webp/$header.h" "$prefix/include/webp/"
    done
    done_building "libwebp and libwebpdemux"
  fi

  # libtiff with the zlib and jpeg codecs built above and its own; no
  # other codec, no tools, docs, tests or C++ stream API.
  if ! have libtiff tiffio.h; then
    fetch tiff tiff
    configure tiff -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF \
      -Dtiff-docs=OFF -Dtiff-opengl=OFF -Dsphinx=OFF -Dcxx=OFF -Dzlib=ON -Djpeg=ON -Dold-jpeg=ON \
      -Djbig=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF -Dlibdeflate=OFF \
      -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
      -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include"
    build tiff
    cmake --install "$work/tiff" >>"$work/tiff.log" 2>&1 || { cat "$work/tiff.log"; exit 1; }
    done_building libtiff
  fi
fi

rm -rf "$work"
if [ "${#built[@]}" -gt 0 ]; then
  echo "$(IFS=,; echo "${built[*]}" | sed 's/,/, /g') for $target: built into $prefix"
fi
