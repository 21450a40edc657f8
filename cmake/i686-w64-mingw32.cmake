# Cross build of the 32-bit Windows executable with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MIRVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Tests built for Windows run under Wine, here under its 32-bit half.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
