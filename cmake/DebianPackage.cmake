# The Linux edition as a Debian package (cpack -G DEB): the program and the
# simulator in /usr/bin, the menu entry, the icon in the hicolor theme, the
# AppStream metainfo, the manual pages, the copyright file and a changelog.
# Depends is worked out from the binaries by dpkg-shlibdeps.
include(GNUInstallDirs)

set(ROTAVOX_PACKAGING ${PROJECT_SOURCE_DIR}/packaging/linux)
set(ROTAVOX_PACKAGE_STAGE ${PROJECT_BINARY_DIR}/package-files)
set(ROTAVOX_DOC ${CMAKE_INSTALL_DATADIR}/doc/rotavox)

install(TARGETS rotavox cbox-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ROTAVOX_PACKAGING}/org.rotavox.Rotavox.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/rotavox-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME rotavox.png)
endforeach()
configure_file(${ROTAVOX_PACKAGING}/org.rotavox.Rotavox.metainfo.xml
               ${ROTAVOX_PACKAGE_STAGE}/org.rotavox.Rotavox.metainfo.xml @ONLY)
install(FILES ${ROTAVOX_PACKAGE_STAGE}/org.rotavox.Rotavox.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ROTAVOX_PACKAGING}/copyright DESTINATION ${ROTAVOX_DOC})

# Manual pages and the changelog go gzip-compressed, as Debian wants them:
# at the highest level, without a name or a time stamp in the header.
function(rotavox_gzip source name)
  configure_file(${source} ${ROTAVOX_PACKAGE_STAGE}/${name} @ONLY)
  execute_process(COMMAND gzip -9nc ${ROTAVOX_PACKAGE_STAGE}/${name}
                  OUTPUT_FILE ${ROTAVOX_PACKAGE_STAGE}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
endfunction()
rotavox_gzip(${ROTAVOX_PACKAGING}/rotavox.1 rotavox.1)
rotavox_gzip(${ROTAVOX_PACKAGING}/cbox-sim.1 cbox-sim.1)
install(FILES ${ROTAVOX_PACKAGE_STAGE}/rotavox.1.gz ${ROTAVOX_PACKAGE_STAGE}/cbox-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
file(WRITE ${ROTAVOX_PACKAGE_STAGE}/changelog.in
     "rotavox (@PROJECT_VERSION@) stable; urgency=medium\n\n"
     "  * Release @PROJECT_VERSION@.\n\n"
     " -- The Rotavox developers <developers@rotavox.org>  Wed, 09 Dec 2026 00:00:00 +0000\n")
rotavox_gzip(${ROTAVOX_PACKAGE_STAGE}/changelog.in changelog)
install(FILES ${ROTAVOX_PACKAGE_STAGE}/changelog.gz DESTINATION ${ROTAVOX_DOC})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rotavox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Rotavox developers")
set(CPACK_PACKAGE_CONTACT "The Rotavox developers <developers@rotavox.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency names them: Qt's
# window-system plugins (xcb, wayland), without which no window opens, and
# the country file that places callsigns.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, hamradio-files")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "speech-dispatcher, speech-dispatcher-espeak-ng")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://rotavox.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "spoken controller for an antenna rotator on a Prosistel C BOX")
# The summary is the description's first line; this is the rest.
set(CPACK_PACKAGE_DESCRIPTION "Rotavox turns an antenna rotator driven by a Prosistel C BOX over a serial
port. Every prompt, typed digit and arrival is spoken, beeps mark the
movement, and a compass dial shows the same for anyone watching. Station
programs can aim it over the rotctld protocol and by contest loggers' UDP
packets. The package also holds cbox-sim, a simulated C BOX.")
include(CPack)
