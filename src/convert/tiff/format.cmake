# libtiff 4.5 or later (TIFFClientOpenExt and its options). Where no
# imported orvx::tiff is given, Debian's, found through pkg-config.
if(NOT TARGET orvx::tiff AND NOT DEFINED ORVX_HAVE_TIFF)
  find_package(PkgConfig)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(ORVX_LIBTIFF IMPORTED_TARGET GLOBAL libtiff-4>=4.5)
  endif()
  if(ORVX_LIBTIFF_FOUND)
    add_library(orvx::tiff ALIAS PkgConfig::ORVX_LIBTIFF)
    set(ORVX_HAVE_TIFF ON)
  else()
    set(ORVX_HAVE_TIFF OFF)
  endif()
endif()
orvx_format(NAME tiff SOURCES tiff_format.cpp tiff_glue.cpp tiff_rgba.cpp
            LIBRARIES orvx::tiff CONDITION ORVX_HAVE_TIFF)
