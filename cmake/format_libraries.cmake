# The image-format libraries libdaz's readers stand on, one imported target
# each, and whether this build has it:
#   orvx::gif   giflib                   ORVX_HAVE_GIF   ORVX_WITH_GIF   (ON)
#   orvx::jpeg  libjpeg-turbo (libjpeg)  ORVX_HAVE_JPEG  ORVX_WITH_JPEG  (ON)
#   orvx::webp  libwebp, libwebpdemux    ORVX_HAVE_WEBP  ORVX_WITH_WEBP  (ON)
#   orvx::tiff  libtiff                  ORVX_HAVE_TIFF  ORVX_WITH_TIFF  (ON)
#   orvx::heif  libheif                  ORVX_HAVE_HEIF  ORVX_WITH_HEIF  (AUTO)
# ORVX_HAVE_X is 1 or 0; orvx::x always exists, empty where ORVX_HAVE_X is 0.
# A native build takes Debian's -dev packages (shared libraries, through
# pkg-config) and fails without one that is ON, naming its package; HEIF on
# AUTO is there where libheif-dev is. A cross build links the static
# libraries cmake/cross_deps.sh built into ORVX_DEPS_PREFIX: all but HEIF
# for Windows, arm64 and s390x, giflib alone for the web page (the browser
# decodes the other formats itself). HEIF is never there for Windows or the
# web page, nor for arm64 and s390x (libheif with its codecs is no cheap
# build).
#
# For libdaz.a's users and the packages, it also sets:
#   ORVX_FORMAT_TARGETS       the orvx::x targets of this build
#   ORVX_FORMAT_LINK_NAMES    their libraries' names, for -l, in a static
#                             link's order
#   ORVX_FORMAT_DEV_PACKAGES  their Debian -dev packages, comma-separated
set(ORVX_FORMATS GIF JPEG WEBP TIFF HEIF)
set(ORVX_FORMAT_gif_PACKAGE libgif-dev)
set(ORVX_FORMAT_jpeg_PACKAGE libjpeg62-turbo-dev)
set(ORVX_FORMAT_webp_PACKAGE libwebp-dev)
set(ORVX_FORMAT_tiff_PACKAGE libtiff-dev)
set(ORVX_FORMAT_heif_PACKAGE libheif-dev)
set(ORVX_FORMAT_gif_MODULES libgif)
set(ORVX_FORMAT_jpeg_MODULES libjpeg)
set(ORVX_FORMAT_webp_MODULES libwebpdemux libwebp)
set(ORVX_FORMAT_tiff_MODULES libtiff-4)
set(ORVX_FORMAT_heif_MODULES libheif)
# In the order a static link wants them: a library before those it uses.
set(ORVX_FORMAT_gif_NAMES gif)
set(ORVX_FORMAT_jpeg_NAMES jpeg)
set(ORVX_FORMAT_webp_NAMES webpdemux webp)
set(ORVX_FORMAT_tiff_NAMES tiff)
set(ORVX_FORMAT_heif_NAMES heif)

# Where each one can be had at all.
if(EMSCRIPTEN)
  set(ORVX_FORMATS_POSSIBLE GIF)
elseif(CMAKE_CROSSCOMPILING)
  set(ORVX_FORMATS_POSSIBLE GIF JPEG WEBP TIFF)
else()
  set(ORVX_FORMATS_POSSIBLE GIF JPEG WEBP TIFF HEIF)
endif()

foreach(format GIF JPEG WEBP TIFF)
  set(default ON)
  if(NOT format IN_LIST ORVX_FORMATS_POSSIBLE)
    set(default OFF)
  endif()
  option(ORVX_WITH_${format} "Read ${format} images" ${default})
endforeach()
set(ORVX_WITH_HEIF AUTO CACHE STRING "Read HEIF and AVIF images (libheif): ON, OFF or AUTO (where found)")
set_property(CACHE ORVX_WITH_HEIF PROPERTY STRINGS AUTO ON OFF)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
endif()

set(ORVX_FORMAT_TARGETS)
set(ORVX_FORMAT_LINK_NAMES)
set(ORVX_FORMAT_DEV_PACKAGES)
foreach(format ${ORVX_FORMATS})
  string(TOLOWER ${format} name)
  set(package ${ORVX_FORMAT_${name}_PACKAGE})
  set(wanted ${ORVX_WITH_${format}})
  set(ORVX_HAVE_${format} 0)
  add_library(orvx::${name} INTERFACE IMPORTED GLOBAL)
  if(wanted STREQUAL "AUTO")
    set(required NO)
  elseif(wanted)
    set(required YES)
  else()
    continue()
  endif()
  if(NOT format IN_LIST ORVX_FORMATS_POSSIBLE)
    if(required)
      message(FATAL_ERROR "ORVX_WITH_${format}=ON: ${format} cannot be read in a build for "
                          "${ORVX_CROSS_TARGET}; configure with -DORVX_WITH_${format}=OFF")
    endif()
    message(STATUS "${format} images: off (not built for ${ORVX_CROSS_TARGET})")
    continue()
  endif()

  set(link_names ${ORVX_FORMAT_${name}_NAMES})
  if(CMAKE_CROSSCOMPILING)
    # The static libraries of ORVX_DEPS_PREFIX, and what they need in turn.
    set(libraries)
    foreach(library ${ORVX_FORMAT_${name}_NAMES})
      set(file ${ORVX_DEPS_PREFIX}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}${library}${CMAKE_STATIC_LIBRARY_SUFFIX})
      if(NOT EXISTS ${file})
        message(FATAL_ERROR "ORVX_WITH_${format}: no ${file}; cmake/cross_deps.sh ${ORVX_CROSS_TARGET} builds it")
      endif()
      list(APPEND libraries ${file})
    endforeach()
    if(name STREQUAL "tiff")
      list(APPEND libraries ${ORVX_DEPS_PREFIX}/lib/libjpeg.a ${ORVX_DEPS_PREFIX}/lib/libz.a)
      list(APPEND link_names jpeg z)
    endif()
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND name MATCHES "^(webp|tiff)$")
      list(APPEND libraries m pthread)
      list(APPEND link_names m pthread)
    endif()
    set_target_properties(orvx::${name} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES ${ORVX_DEPS_PREFIX}/include
      INTERFACE_LINK_LIBRARIES "${libraries}")
  else()
    # Debian's shared libraries, through their pkg-config modules.
    set(found NO)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(ORVX_PC_${format} QUIET IMPORTED_TARGET GLOBAL ${ORVX_FORMAT_${name}_MODULES})
      set(found ${ORVX_PC_${format}_FOUND})
    endif()
    if(NOT found)
      if(required)
        message(FATAL_ERROR "ORVX_WITH_${format}=ON but ${ORVX_FORMAT_${name}_MODULES} not found "
                            "(pkg-config): install Debian's ${package} (and pkg-config), or "
                            "configure with -DORVX_WITH_${format}=OFF")
      endif()
      message(STATUS "${format} images: off (no ${package})")
      continue()
    endif()
    set_target_properties(orvx::${name} PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::ORVX_PC_${format})
  endif()
  set(ORVX_HAVE_${format} 1)
  list(APPEND ORVX_FORMAT_TARGETS orvx::${name})
  list(APPEND ORVX_FORMAT_LINK_NAMES ${link_names})
  list(APPEND ORVX_FORMAT_DEV_PACKAGES ${package})
endforeach()
list(JOIN ORVX_FORMAT_DEV_PACKAGES ", " ORVX_FORMAT_DEV_PACKAGES)
message(STATUS "Image formats: GIF ${ORVX_HAVE_GIF}, JPEG ${ORVX_HAVE_JPEG}, WebP ${ORVX_HAVE_WEBP}, "
               "TIFF ${ORVX_HAVE_TIFF}, HEIF ${ORVX_HAVE_HEIF}")
