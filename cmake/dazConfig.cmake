# find_package(daz): daz::daz, the shared library, and daz::daz_static, the
# static one. daz::daz_static carries DAZ_STATIC and links into the program
# libpng, zlib, the image-format libraries of the build (giflib, libjpeg,
# libwebp and libwebpdemux, libtiff, libheif; by their names) and the C++
# runtime: libpng is looked for here, quietly, as only it needs it.
find_package(PNG QUIET)
include(${CMAKE_CURRENT_LIST_DIR}/dazTargets.cmake)
