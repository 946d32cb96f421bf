# Installing Chipwright like a Linux program: executables in bin, the serial component's catalogues in
# share/chipwright/locale (where the installed program looks for them), a desktop entry, an icon and the
# manual page; and a Debian package of all that through CPack (cpack -G DEB).
include(GNUInstallDirs)

install(TARGETS chipwright chipwright-cli chipwright-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_BINARY_DIR}/locale/ DESTINATION ${CMAKE_INSTALL_DATADIR}/chipwright/locale
        FILES_MATCHING PATTERN "*.mo")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/docs/chipwright-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME chipwright)
set(CPACK_PACKAGE_VENDOR "Chipwright")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host program for serial 8051 flash programmers (AT89C/AT89S)")
set(CPACK_PACKAGE_DESCRIPTION
    "Chipwright erases, programs, verifies, reads and locks AT89C2051/4051/51/52/55 and AT89S51/52/53 chips in a serial programmer. It comes with a window (chipwright), a command-line tool (chipwright-cli) and a programmer simulator (chipwright-sim).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Chipwright maintainers <chipwright@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the executables link (Qt, ALSA, the C++ runtime) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Captions are Traditional Chinese: without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
include(CPack)
