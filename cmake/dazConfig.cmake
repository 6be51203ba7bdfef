# find_package(daz): daz::daz, the shared library, and daz::daz_static, the
# static one (it carries DAZ_STATIC, and links libpng, zlib, the image-format
# libraries (giflib, libjpeg, libwebp, libwebpdemux, libtiff, libheif, by
# their names) and the C++ runtime into the program: libpng is looked for
# here, quietly, as only it needs it).
find_package(PNG QUIET)
include(${CMAKE_CURRENT_LIST_DIR}/dazTargets.cmake)
