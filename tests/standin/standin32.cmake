# The 32-bit stand-in for the 64-bit Windows build: a WOW64 target for
# Mirvane64.exe. One more compile of the same two files with the 32-bit
# MinGW-w64 compiler (static, large-address-aware like the 32-bit build's).
find_program(MIRVANE_MINGW32_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
if(NOT MIRVANE_MINGW32_CXX)
  message(STATUS "No 32-bit MinGW-w64 compiler: no WOW64 target, its test is left out")
  return()
endif()
set(MIRVANE_STANDIN32 ${CMAKE_CURRENT_BINARY_DIR}/StandInEmu32.exe)
set(standin32_sources ${CMAKE_CURRENT_SOURCE_DIR}/standin/standin.cc
    ${CMAKE_CURRENT_SOURCE_DIR}/standin/standin_os_win32.cc)
add_custom_command(OUTPUT ${MIRVANE_STANDIN32}
  COMMAND ${MIRVANE_MINGW32_CXX} -std=c++17 -O2 -Wall -Wextra -static -Wl,--large-address-aware
          ${standin32_sources} -o ${MIRVANE_STANDIN32}
  DEPENDS ${standin32_sources} ${CMAKE_CURRENT_SOURCE_DIR}/standin/standin_os.h
  VERBATIM)
add_custom_target(StandInEmu32 ALL DEPENDS ${MIRVANE_STANDIN32})
