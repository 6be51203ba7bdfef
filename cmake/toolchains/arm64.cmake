# Linux aarch64, cross-built with Debian's g++-aarch64-linux-gnu, its programs
# run by qemu-user over the cross toolchain's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ORVX_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ORVX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORVX_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${ORVX_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
