# Install rules and packages: a Debian package on Linux (programs, manual
# pages, README), a ZIP of the four .exe and the README on Windows.
# `cpack` in a build directory makes the package of that build.

# Installing (and so cpack) takes the programs as built; it does not build
# everything first, tests included. Build VNloader, VNsim, VNinfo and VNfleet
# before.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VN_PROGRAMS VNloader VNsim VNinfo VNfleet)
set(VN_MAN_PAGES man/VNloader.1 man/VNsim.1 man/VNinfo.1 man/VNfleet.1)

if(WIN32)
  # Everything side by side at the top of the archive's folder.
  install(TARGETS ${VN_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
else()
  include(GNUInstallDirs)
  install(TARGETS ${VN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${VN_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vnloader)
endif()

set(CPACK_PACKAGE_NAME vnloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Firmware loader for vexaNode devices, with a fleet updater, a device emulator and a package inspector")
set(CPACK_PACKAGE_DESCRIPTION
  "VNloader sends firmware to a vexaNode over UDP, prints its debug messages and builds DES-enciphered update packages. VNfleet updates many devices at once; VNsim stands in for the device; VNinfo tells whether a file is fit to send.")
set(CPACK_PACKAGE_CONTACT "VNloader maintainers <vnloader@example.org>")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Debugging symbols stay in the build tree.
  set(CPACK_STRIP_FILES ON)
  # The C and C++ runtime the programs were linked with, if any.
  find_program(VN_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VN_STATIC_PROGRAMS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
  elseif(VN_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libssl3")
  endif()
endif()

include(CPack)
