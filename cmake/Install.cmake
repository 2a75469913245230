# What `cmake --install` puts in place besides the three programs and the
# licence, and the Debian package `cpack -G DEB` makes of it. Included at the
# end of the top-level CMakeLists.txt.

include(GNUInstallDirs)

set(VORNTERM_APP_ID "example.vorn.VornTerm")
set(VORNTERM_DIST "${CMAKE_SOURCE_DIR}/dist/linux")

if(UNIX AND NOT APPLE)
  # The desktop's menu starts the program through a small launcher that
  # gives it a working folder of its own. The desktop entry names the
  # launcher by its full path, known only when installing (cpack installs
  # under another prefix than `cmake --install`), so both are written then.
  install(CODE "
    set(VORNTERM_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vornterm\")
    set(VORNTERM_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/vornterm/vornterm-desktop\")
    configure_file(\"${VORNTERM_DIST}/vornterm-desktop.in\"
                   \"${CMAKE_BINARY_DIR}/install-gen/vornterm-desktop\" @ONLY)
    configure_file(\"${VORNTERM_DIST}/${VORNTERM_APP_ID}.desktop.in\"
                   \"${CMAKE_BINARY_DIR}/install-gen/${VORNTERM_APP_ID}.desktop\" @ONLY)
  ")
  install(PROGRAMS "${CMAKE_BINARY_DIR}/install-gen/vornterm-desktop"
          DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vornterm)
  install(FILES "${CMAKE_BINARY_DIR}/install-gen/${VORNTERM_APP_ID}.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${VORNTERM_DIST}/${VORNTERM_APP_ID}.metainfo.xml"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY "${CMAKE_SOURCE_DIR}/res/icons/hicolor"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  install(FILES "${VORNTERM_DIST}/vornterm.1" "${VORNTERM_DIST}/vornterm-cfg.1"
                "${VORNTERM_DIST}/vornterm-log.1"
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES "${VORNTERM_DIST}/vornterm-index.5" DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
endif()

# The Debian package. Its dependencies are found from the programs by
# dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME "vornterm")
set(CPACK_PACKAGE_VENDOR "Vorn Instruments Ltd.")
set(CPACK_PACKAGE_CONTACT "Vorn Instruments Ltd. <support@vorn.example>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-line terminal for technicians")
set(CPACK_PACKAGE_DESCRIPTION
    "VornTerm shows every byte a device sends on a serial line, as text or as
hexadecimal bytes, and sends typed characters, a running counter or a whole
file to it, with a daily log of the received data. It opens serial devices
and USB adapters, a loopback, raw TCP serial servers and RFC 2217 servers.
The settings file and the logs lie in the folder it is started from;
vornterm-cfg prints or changes the settings from a shell; vornterm-log prints
a daily log with the time each line arrived.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "vornterm")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/res/VornLicense.txt")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "comm")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.vorn.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_VORNTERM_LICENSE "${CMAKE_SOURCE_DIR}/res/VornLicense.txt")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_SOURCE_DIR}/cmake/DebianPackage.cmake")
include(CPack)
