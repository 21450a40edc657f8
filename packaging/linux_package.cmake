# The Linux install and its Debian package, mirvane_1.0_<arch>.deb: the tool
# in bin/ as Mirvane and mirvane, its manual page, the marker program in
# share/mirvane/ where the build made it, the copyright file and changelog in
# share/doc/mirvane/. Beside it the portable archive for every distribution,
# mirvane-1.0-linux-<processor>.tar.gz: a statically linked tool that needs no
# library of the system it is unpacked on.
#   cmake --install build/native [--prefix DIR]
#   cmake --build --preset native --target package   (the .deb, for /usr, and the archive)

include(GNUInstallDirs)

# Who answers for the package: its Maintainer field and changelog signature.
set(MIRVANE_MAINTAINER "Brenlow_Works <mirvane@brenlow-works.invalid>"
    CACHE STRING "The Debian package's maintainer, as Name <address>")

install(TARGETS Mirvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
# The lower-case command users of Debian expect, and the manual page under both
# names, compressed as Debian keeps them (gzip -n: the same bytes every build).
set(MIRVANE_LINKS ${CMAKE_BINARY_DIR}/links)
file(MAKE_DIRECTORY ${MIRVANE_LINKS})
file(CREATE_LINK Mirvane ${MIRVANE_LINKS}/mirvane SYMBOLIC)
file(CREATE_LINK mirvane.1.gz ${MIRVANE_LINKS}/Mirvane.1.gz SYMBOLIC)
install(FILES ${MIRVANE_LINKS}/mirvane DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
set(MIRVANE_MANUAL ${CMAKE_BINARY_DIR}/mirvane.1.gz)
add_custom_command(OUTPUT ${MIRVANE_MANUAL}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/mirvane.1 > ${MIRVANE_MANUAL}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/mirvane.1)
add_custom_target(manual_page ALL DEPENDS ${MIRVANE_MANUAL})
install(FILES ${MIRVANE_MANUAL} ${MIRVANE_LINKS}/Mirvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT tool)
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

# The copyright file and the changelog that Debian asks of every package.
set(MIRVANE_DEB_DOC ${CMAKE_BINARY_DIR}/deb-doc)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${MIRVANE_DEB_DOC}/changelog @ONLY)
set(MIRVANE_CHANGELOG ${MIRVANE_DEB_DOC}/changelog.gz)
add_custom_command(OUTPUT ${MIRVANE_CHANGELOG}
  COMMAND gzip -9nc ${MIRVANE_DEB_DOC}/changelog > ${MIRVANE_CHANGELOG}
  DEPENDS ${MIRVANE_DEB_DOC}/changelog)
add_custom_target(deb_changelog ALL DEPENDS ${MIRVANE_CHANGELOG})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${MIRVANE_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mirvane COMPONENT tool)

# The portable archive: one folder holding bin/mirvane and bin/Mirvane, the
# statically linked tool (sanitized builds can't link so, and make no archive);
# its manual page; the marker program, a short README and the licence on top.
if(NOT MIRVANE_SANITIZE)
  add_executable(Mirvane_portable src/app/main.cc)
  target_link_libraries(Mirvane_portable PRIVATE mirvane_core mirvane_console mirvane_services)
  target_link_options(Mirvane_portable PRIVATE -static)
  set_target_properties(Mirvane_portable PROPERTIES OUTPUT_NAME Mirvane
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/portable)
  # Packed only: a plain `cmake --install` installs the tool component alone.
  install(TARGETS Mirvane_portable RUNTIME DESTINATION bin COMPONENT portable EXCLUDE_FROM_ALL)
  install(FILES ${MIRVANE_LINKS}/mirvane DESTINATION bin COMPONENT portable EXCLUDE_FROM_ALL)
  install(FILES ${MIRVANE_MANUAL} ${MIRVANE_LINKS}/Mirvane.1.gz DESTINATION share/man/man1
          COMPONENT portable EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-linux.txt DESTINATION . RENAME README
          COMPONENT portable EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
  if(MIRVANE_MARKER_FILES)
    install(FILES ${MIRVANE_MARKER_FILES} DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
  endif()
  set(MIRVANE_ARCHIVE_NAME mirvane-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  # CPack reads this once per generator: the archive packs its own component.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/cpack_per_generator.cmake.in
                 ${CMAKE_BINARY_DIR}/cpack_per_generator.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack_per_generator.cmake)
  set(CPACK_GENERATOR DEB TGZ)
  if(CMAKE_CROSSCOMPILING)
    # The .deb is for this Debian machine's own architecture; a cross build
    # makes the archive alone.
    set(CPACK_GENERATOR TGZ)
  endif()
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_NAME mirvane)
set(CPACK_PACKAGE_VENDOR Brenlow_Works)
set(CPACK_PACKAGE_CONTACT ${MIRVANE_MAINTAINER})  # the Maintainer field
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds a PlayStation 1 emulator's main RAM in its process memory")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Mirvane finds where a running PlayStation 1 emulator keeps the emulated\n\
console's 2 MiB main RAM in its own memory, by the markers that the marker\n\
program in /usr/share/mirvane writes into it, and reports that address on\n\
standard output. Windows emulators run by Wine are found by their Windows\n\
names.")
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
  if(Python3_Interpreter_FOUND AND NOT CMAKE_CROSSCOMPILING)
    # Packs a .deb of its own (in package-check/) and lists it with dpkg-deb --contents.
    add_test(NAME linux_package
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/check_release_zip.py --deb
              --source ${PROJECT_SOURCE_DIR} --build ${CMAKE_BINARY_DIR} --cpack ${CMAKE_CPACK_COMMAND})
    set_tests_properties(linux_package PROPERTIES TIMEOUT 300)
  endif()
  if(Python3_Interpreter_FOUND AND TARGET Mirvane_portable)
    # Packs an archive of its own (in archive-check/) and checks it; natively
    # also runs the tool from a chroot of it against the stand-in, as root.
    set(MIRVANE_CHROOT_ARGS)
    if(NOT CMAKE_CROSSCOMPILING)
      set(MIRVANE_CHROOT_ARGS --standin $<TARGET_FILE:StandInEmu>)
    endif()
    add_test(NAME linux_archive
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/check_release_zip.py --archive
              --processor ${CMAKE_SYSTEM_PROCESSOR} --source ${PROJECT_SOURCE_DIR} --build ${CMAKE_BINARY_DIR}
              --cpack ${CMAKE_CPACK_COMMAND} ${MIRVANE_CHROOT_ARGS})
    set_tests_properties(linux_archive PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
endif()
