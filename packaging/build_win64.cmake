# Brings the win64 preset's Mirvane64.exe up to date and copies it, stripped,
# for the release zip; or, with -DTARGET=StandInEmu and no TO, only brings its
# Windows stand-in up to date, for the native tests.
#   cmake -DSOURCE=repo -DBUILD=build/win64 -DSTRIP=x86_64-w64-mingw32-strip -DTO=copy -P build_win64.cmake
#   cmake -DSOURCE=repo -DBUILD=build/win64 -DTARGET=StandInEmu -P build_win64.cmake
if(NOT TARGET)
  set(TARGET Mirvane)
endif()
if(NOT EXISTS "${BUILD}/CMakeCache.txt")
  execute_process(COMMAND "${CMAKE_COMMAND}" --preset win64 WORKING_DIRECTORY "${SOURCE}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()
# One job more beside the build that runs us, without the jobserver it can't reach.
unset(ENV{MAKEFLAGS})
unset(ENV{MFLAGS})
unset(ENV{MAKELEVEL})
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" --target "${TARGET}" --parallel 1
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT TO)
  return()
endif()
execute_process(COMMAND "${STRIP}" -o "${TO}.new" "${BUILD}/Mirvane64.exe" COMMAND_ERROR_IS_FATAL ANY)
# Replaced only when it changed, so that nothing downstream repacks for nothing.
file(COPY_FILE "${TO}.new" "${TO}" ONLY_IF_DIFFERENT)
file(REMOVE "${TO}.new")
