# The Windows edition as an installer (cpack -G NSIS, with Debian's nsis)
# and as a zip of the same files: rotavox.exe, README.txt, and the country
# file cty.dat with its copyright notice. The
# installer's pages are NSIS's standard ones, which screen readers read; it
# installs silently with /S, registers its uninstaller with Windows, and puts
# a Start-menu shortcut that starts Rotavox in the user's own folder, where
# STAT.DAT can be written (the program folder cannot be, for a normal user).
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
               ${PROJECT_BINARY_DIR}/package-files/README.txt @ONLY NEWLINE_STYLE CRLF)
install(TARGETS rotavox RUNTIME DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/package-files/README.txt DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/cty.dat ${PROJECT_BINARY_DIR}/cty-copyright.txt DESTINATION .)

set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME Rotavox)
set(CPACK_PACKAGE_VENDOR "The Rotavox developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Spoken controller for an antenna rotator on a Prosistel C BOX")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Rotavox)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
# The installer and the zip each get their own name (see the file below).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package-files/CPackNames.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "if(CPACK_GENERATOR STREQUAL \"NSIS\")\n"
     "  set(CPACK_PACKAGE_FILE_NAME \"rotavox-${PROJECT_VERSION}-setup\")\n"
     "else()\n"
     "  set(CPACK_PACKAGE_FILE_NAME \"rotavox-${PROJECT_VERSION}-windows-x64\")\n"
     "  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)\n"
     "endif()\n")

# A 64-bit installer, like the program (cmake/nsis holds CPack's template
# with that one line added).
list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
set(CPACK_NSIS_DISPLAY_NAME "Rotavox Controller")
set(CPACK_NSIS_PACKAGE_NAME "Rotavox Controller ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/rotavox.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/rotavox.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME rotavox.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The shortcut's working directory is written as %USERPROFILE%, which
# Windows expands for whoever starts it.
set(CPACK_NSIS_CREATE_ICONS_EXTRA "
  StrCpy $OUTDIR '%USERPROFILE%'
  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Rotavox Controller.lnk' '$INSTDIR\\\\rotavox.exe'
  SetOutPath '$INSTDIR'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "
  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Rotavox Controller.lnk'")
include(CPack)
