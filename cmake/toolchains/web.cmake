# WebAssembly for the web page (web/), through Debian's emscripten. zlib and
# libpng come from ORVX_DEPS_PREFIX, built there by cmake/cross_deps.sh web
# from Debian's sources: emscripten's ports would download theirs.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
list(APPEND CMAKE_FIND_ROOT_PATH ${ORVX_DEPS_PREFIX})
