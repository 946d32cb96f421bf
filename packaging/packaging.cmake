# SPDX-License-Identifier: GPL-3.0-or-later
# Installing Chipwright like a Linux program: executables in bin, the serial component's catalogues in
# share/chipwright/locale (where the installed program looks for them), a desktop entry, a MIME type for
# Intel HEX files, AppStream metainfo, icons, gzipped manual pages, the copyright file and the changelog; and
# a Debian package of all that through CPack (cpack -G DEB). scripts/check-deb builds the package with
# dpkg-buildflags' hardening flags and checks it with lintian.
include(GNUInstallDirs)

# The package's Maintainer field and the changelog's signature: a real name and address. Taken from the
# Debian tools' usual DEBFULLNAME and DEBEMAIL when they are set.
set(chipwright_default_maintainer "Chipwright Developers <developers@chipwright.org>")
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
    set(chipwright_default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
set(CHIPWRIGHT_MAINTAINER "${chipwright_default_maintainer}"
    CACHE STRING "Maintainer of the Debian package: \"Name <address>\"")

# Gzipped as Debian wants them: best compression, no name or time stamp inside, so builds are reproducible.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${packaging_out}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${packaging_out}/copyright @ONLY)
set(gzipped)
foreach(source IN ITEMS ${packaging_out}/changelog ${CMAKE_SOURCE_DIR}/docs/chipwright.1
                        ${CMAKE_SOURCE_DIR}/docs/chipwright-cli.1 ${CMAKE_SOURCE_DIR}/docs/chipwright-sim.1)
    get_filename_component(name ${source} NAME)
    set(target ${packaging_out}/gz/${name}.gz)
    add_custom_command(OUTPUT ${target}
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${packaging_out}/gz/${name}
                       COMMAND ${GZIP_EXECUTABLE} -9nf ${packaging_out}/gz/${name}
                       DEPENDS ${source} VERBATIM)
    list(APPEND gzipped ${target})
endforeach()
add_custom_target(chipwright_packaging_files ALL DEPENDS ${gzipped})

install(TARGETS chipwright chipwright-cli chipwright-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Without the compiler's .comment and the bare .note sections, as Debian's dh_strip leaves its binaries (lintian
# calls them unneeded); the debugging information stays for cpack's strip to take or keep.
find_program(OBJCOPY_EXECUTABLE NAMES objcopy ${CMAKE_OBJCOPY})
if(OBJCOPY_EXECUTABLE)
    install(CODE "
        foreach(program chipwright chipwright-cli chipwright-sim)
            set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
            execute_process(COMMAND \"${OBJCOPY_EXECUTABLE}\" --remove-section=.comment --remove-section=.note
                                    \"\${installed}\" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()")
endif()
install(DIRECTORY ${CMAKE_BINARY_DIR}/locale/ DESTINATION ${CMAKE_INSTALL_DATADIR}/chipwright/locale
        FILES_MATCHING PATTERN "*.mo" PATTERN "CMakeFiles" EXCLUDE)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Intel HEX as a MIME type (text/x-ihex), which the desktop entry names, so file managers offer Chipwright
# for .hex, .ihx and .ihex files.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright-ihex.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.chipwright.Chipwright.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN ITEMS 48 256)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/chipwright-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME chipwright.png)
endforeach()
install(FILES ${packaging_out}/gz/chipwright.1.gz ${packaging_out}/gz/chipwright-cli.1.gz
              ${packaging_out}/gz/chipwright-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_out}/copyright ${packaging_out}/gz/changelog.gz ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The user guide the about window opens, with its pictures: installed with the documentation, and in the
# build tree's doc folder for the program run from there.
foreach(name IN ITEMS user-guide.html main-window.png open-dialog.png open-from-command-line.png)
    configure_file(${CMAKE_SOURCE_DIR}/docs/${name} ${CMAKE_BINARY_DIR}/doc/${name} COPYONLY)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.html ${CMAKE_SOURCE_DIR}/docs/main-window.png
              ${CMAKE_SOURCE_DIR}/docs/open-dialog.png ${CMAKE_SOURCE_DIR}/docs/open-from-command-line.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Registered with doc-base, so that documentation browsers list it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chipwright-user-guide.doc-base
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base RENAME chipwright-user-guide)

set(CPACK_PACKAGE_NAME chipwright)
set(CPACK_PACKAGE_VENDOR "Chipwright")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host program for serial 8051 flash programmers (AT89C/AT89S)")
# Lines of at most 80 characters, as Debian's description field wants them; CPack puts the summary first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Chipwright erases, programs, verifies, reads and locks AT89C2051, AT89C4051,
AT89C51, AT89C52, AT89C55, AT89S51, AT89S52 and AT89S53 chips in a serial
programmer. It comes with a window (chipwright), a command-line tool
(chipwright-cli) and a programmer simulator (chipwright-sim).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CHIPWRIGHT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CHIPWRIGHT_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the executables link (Qt, ALSA, the C++ runtime) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Captions are Traditional Chinese: without a CJK font every one is a box, so a font is a dependency.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-arphic-uming | fonts-wqy-microhei")
set(CPACK_STRIP_FILES ON)
include(CPack)
