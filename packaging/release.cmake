# The Windows release, Mirvane-1.0-win32.zip: the 32-bit and the 64-bit tool,
# their batch file, a README for Windows users, the licence, and the marker
# program where it was built.
#   cmake --build --preset win32 --target package   (or: bash scripts/release.sh)

# The text files go out with Windows line ends. Made at build time, so that a
# batch file or marker program that appears after configuring is still packed.
set(MIRVANE_RELEASE_TEXT ${CMAKE_BINARY_DIR}/release)
add_custom_target(release_text ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MIRVANE_RELEASE_TEXT}
  COMMAND ${CMAKE_COMMAND} -DFROM=${PROJECT_SOURCE_DIR}/packaging/README-windows.txt
          -DTO=${MIRVANE_RELEASE_TEXT}/README.txt -P ${PROJECT_SOURCE_DIR}/packaging/windows_text.cmake
  COMMAND ${CMAKE_COMMAND} -DFROM=${PROJECT_SOURCE_DIR}/Mirvane.bat
          -DTO=${MIRVANE_RELEASE_TEXT}/Mirvane.bat -P ${PROJECT_SOURCE_DIR}/packaging/windows_text.cmake
  COMMAND ${CMAKE_COMMAND} -DFROM=${PROJECT_SOURCE_DIR}/LICENSE
          -DTO=${MIRVANE_RELEASE_TEXT}/LICENSE.txt -P ${PROJECT_SOURCE_DIR}/packaging/windows_text.cmake
  VERBATIM)

# Mirvane64.exe comes from the win64 preset's build, which this build brings
# up to date and strips into release/.
set(MIRVANE_WIN64_BUILD ${PROJECT_SOURCE_DIR}/build/win64 CACHE PATH "The win64 preset's build folder")
find_program(MIRVANE_STRIP64 x86_64-w64-mingw32-strip REQUIRED)
add_custom_target(mirvane64 ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DBUILD=${MIRVANE_WIN64_BUILD}
          -DSTRIP=${MIRVANE_STRIP64} -DTO=${MIRVANE_RELEASE_TEXT}/Mirvane64.exe
          -P ${PROJECT_SOURCE_DIR}/packaging/build_win64.cmake
  BYPRODUCTS ${MIRVANE_RELEASE_TEXT}/Mirvane64.exe
  VERBATIM)
add_dependencies(mirvane64 release_text)

# Only this component is packed: nothing else the build installs.
install(TARGETS Mirvane RUNTIME DESTINATION . COMPONENT release)
install(PROGRAMS ${MIRVANE_RELEASE_TEXT}/Mirvane64.exe DESTINATION . COMPONENT release)
install(FILES ${MIRVANE_RELEASE_TEXT}/README.txt ${MIRVANE_RELEASE_TEXT}/LICENSE.txt DESTINATION . COMPONENT release)
install(FILES ${MIRVANE_RELEASE_TEXT}/Mirvane.bat DESTINATION . COMPONENT release OPTIONAL)
# The marker program needs the MIPS cross tools; without them it is left out.
set(MIRVANE_RELEASE_TESSIL_EXE ${CMAKE_BINARY_DIR}/tessil/TESSIL.EXE)
set(MIRVANE_RELEASE_TESSIL_ISO ${CMAKE_BINARY_DIR}/tessil/TESSIL.ISO)
if(TESSIL_EXE)
  set(MIRVANE_RELEASE_TESSIL_EXE ${TESSIL_EXE})
  set(MIRVANE_RELEASE_TESSIL_ISO ${TESSIL_ISO})
endif()
install(FILES ${MIRVANE_RELEASE_TESSIL_EXE} ${MIRVANE_RELEASE_TESSIL_ISO} DESTINATION . COMPONENT release OPTIONAL)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Mirvane)
set(CPACK_PACKAGE_VENDOR Brenlow_Works)
set(CPACK_PACKAGE_FILE_NAME Mirvane-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_COMPONENTS_ALL release)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)

include(${PROJECT_SOURCE_DIR}/packaging/check_windows_exe.cmake)
if(MIRVANE_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    # Packs a zip of its own (in release-check/) and checks what it holds.
    add_test(NAME release_zip
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/check_release_zip.py
              --source ${PROJECT_SOURCE_DIR} --build ${CMAKE_BINARY_DIR} --cpack ${CMAKE_CPACK_COMMAND})
    set_tests_properties(release_zip PROPERTIES TIMEOUT 300)
  endif()
endif()
