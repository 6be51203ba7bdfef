# Linux s390x, big-endian, cross-built with Debian's g++-s390x-linux-gnu, its
# programs run by qemu-user over the cross toolchain's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(ORVX_TRIPLET s390x-linux-gnu)
set(CMAKE_C_COMPILER ${ORVX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORVX_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/${ORVX_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
