# Windows x86-64, cross-built with MinGW-w64 (Debian: g++-mingw-w64-x86-64),
# its programs run by Wine (Debian: wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVX_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the Win32 one
# lacks in GCC 12. Linked statically, it needs no DLL either.
set(CMAKE_C_COMPILER ${ORVX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVX_TRIPLET}-windres)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../run-wine.sh)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
