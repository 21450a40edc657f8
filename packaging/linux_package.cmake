# The Linux install and its Debian package, mirvane_1.0_<arch>.deb: the tool
# in bin/, the marker program in share/mirvane/ where the build made it.
#   cmake --install build/native [--prefix DIR]
#   cmake --build --preset native --target package   (the .deb, for /usr)

include(GNUInstallDirs)

install(TARGETS Mirvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
# The marker program needs the MIPS cross tools, its CD image an ISO writer
# (tessil/CMakeLists.txt); without them each is left out.
set(MIRVANE_MARKER_FILES)
if(TARGET tessil)
  list(APPEND MIRVANE_MARKER_FILES ${TESSIL_EXE})
  if(TESSIL_GENISOIMAGE OR TESSIL_XORRISO)
    list(APPEND MIRVANE_MARKER_FILES ${TESSIL_ISO})
  endif()
endif()
if(MIRVANE_MARKER_FILES)
  install(FILES ${MIRVANE_MARKER_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/mirvane COMPONENT tool)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirvane)
set(CPACK_PACKAGE_VENDOR Brenlow_Works)
set(CPACK_PACKAGE_CONTACT Brenlow_Works)  # the Maintainer field
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds a PlayStation 1 emulator's main RAM in its process memory")
set(CPACK_PACKAGE_DESCRIPTION
    "Mirvane finds where a running PlayStation 1 emulator keeps the emulated console's\n\
2 MiB main RAM in its own memory, by the markers that the marker program in\n\
/usr/share/mirvane writes into it, and reports that address on standard output\n\
and in its exit status.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# One package of the tool component alone: a monolithic package would take
# every install rule of the build, the tests' too.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};tool;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the C and C++ libraries it links, from dpkg-shlibdeps
set(CPACK_STRIP_FILES ON)
include(CPack)

if(MIRVANE_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    # Packs a .deb of its own (in package-check/) and lists it with dpkg-deb --contents.
    add_test(NAME linux_package
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/check_release_zip.py --deb
              --source ${PROJECT_SOURCE_DIR} --build ${CMAKE_BINARY_DIR} --cpack ${CMAKE_CPACK_COMMAND})
    set_tests_properties(linux_package PROPERTIES TIMEOUT 300)
  endif()
endif()
