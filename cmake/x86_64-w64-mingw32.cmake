# Cross build of the 64-bit Windows executable with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MIRVANE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Tests built for Windows run under Wine: here under its 64-bit loader itself,
# which runs where 32-bit programs can't (Debian keeps it out of PATH).
find_program(MIRVANE_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MIRVANE_WINE64})
