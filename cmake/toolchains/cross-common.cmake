# What every cross build shares: libraries and headers come only from the
# cross toolchain's folder and from ORVX_DEPS_PREFIX, where cmake/cross_deps.sh
# puts zlib and libpng built for the target; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVX_TRIPLET} ${ORVX_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
