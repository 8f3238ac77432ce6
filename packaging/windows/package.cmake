# The Windows packages, included by packaging/CMakeLists.txt in a mingw build. Both hold the same
# folder: the two programs, the dialog's help page, a short read-me, Morvane's licence and the
# licences of the runtime linked into the programs.
#   morvane-<version>-win64.zip         (CPack ZIP: unpack anywhere)
#   morvane-<version>-win64-setup.exe   (CPack NSIS, when makensis is found: installs into
#                                        Program Files, a Start-menu shortcut to the dialog,
#                                        optionally morvane-cli on PATH, and an uninstaller)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Back up and restore the configuration of Tavio device servers")
# The NSIS settings below hold backslashes, quotes and $ signs meant for makensis.
set(CPACK_VERBATIM_VARIABLES ON)

install(TARGETS morvane morvane-cli RUNTIME DESTINATION .)
install(FILES ${MORVANE_HELP_FILE} DESTINATION .)
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

# The licences. The executables need no DLL beyond Windows' own (cmake/mingw-w64-x86_64.cmake
# links -static): the mingw-w64 runtime, winpthreads, libgcc and libstdc++ are inside them, so
# their notices travel with them, taken from the Debian packages that provide those libraries.
set(MORVANE_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-x86-64-dev/copyright CACHE FILEPATH
    "Copyright file of the mingw-w64 runtime and winpthreads the programs are linked with")
set(MORVANE_GCC_COPYRIGHT /usr/share/doc/g++-mingw-w64-x86-64-posix/copyright CACHE FILEPATH
    "Copyright file of the GCC runtime libraries (libgcc, libstdc++) the programs are linked with")
foreach(file MORVANE_MINGW_COPYRIGHT MORVANE_GCC_COPYRIGHT)
  if(NOT EXISTS ${${file}})
    message(FATAL_ERROR "${${file}} is missing: the Windows packages carry it. Install "
                        "mingw-w64-x86-64-dev and g++-mingw-w64-x86-64-posix, or set ${file}.")
  endif()
endforeach()
set(licence ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
set(notices ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
set(morvane_copyright ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright)
set(write_notices ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION}
    -DMORVANE_COPYRIGHT=${morvane_copyright}
    -DMINGW_COPYRIGHT=${MORVANE_MINGW_COPYRIGHT} -DMINGW_PACKAGE=mingw-w64-x86-64-dev
    -DGCC_COPYRIGHT=${MORVANE_GCC_COPYRIGHT} -DGCC_PACKAGE=g++-mingw-w64-x86-64-posix
    -DLICENSE_OUT=${licence} -DNOTICES_OUT=${notices} -P ${CMAKE_CURRENT_LIST_DIR}/notices.cmake)
# Once now, since CPack wants the licence the installer shows to exist when it is configured;
# again whenever one of the sources changes.
if(NOT EXISTS ${licence} OR NOT EXISTS ${notices})
  execute_process(COMMAND ${write_notices} COMMAND_ERROR_IS_FATAL ANY)
endif()
add_custom_command(OUTPUT ${licence} ${notices}
  COMMAND ${write_notices}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/notices.cmake ${morvane_copyright}
          ${MORVANE_MINGW_COPYRIGHT} ${MORVANE_GCC_COPYRIGHT}
  COMMENT "Writing LICENSE.txt and THIRD-PARTY-NOTICES.txt")
add_custom_target(morvane-windows-notices ALL DEPENDS ${licence} ${notices})
# Whatever builds the programs builds their notices, so that packing never lacks them.
add_dependencies(morvane morvane-windows-notices)
add_dependencies(morvane-cli morvane-windows-notices)
install(FILES ${licence} ${notices} DESTINATION .)

set(CPACK_PACKAGE_FILE_NAME morvane-${PROJECT_VERSION}-win64)
set(CPACK_GENERATOR ZIP)

find_program(MORVANE_MAKENSIS makensis)
if(MORVANE_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_NSIS_EXECUTABLE ${MORVANE_MAKENSIS})
  # The installer's file name: CPack's per-generator settings.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake.in
                 ${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake)
  # Our own text for the PATH page (windows/NSIS.InstallOptions.ini.in); CPack's script for the
  # rest.
  set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

  set(CPACK_NSIS_PACKAGE_NAME Morvane)
  set(CPACK_NSIS_DISPLAY_NAME Morvane)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Morvane)
  # Add/Remove Programs' entry, and the key under HKLM\Software\Drennick: one name for every
  # version, so that an upgrade replaces the installed one: the old version's uninstaller runs
  # silently, once the installation's own switches are known good (windows/installer.nsh), not
  # at the installer's start as CPack would.
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Morvane)
  set(CPACK_NSIS_INSTALLED_ICON_NAME morvane.exe)
  set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/ui/res/morvane.ico)
  set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/ui/res/morvane.ico)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_RESOURCE_FILE_LICENSE ${licence})
  # Start menu: Morvane\Morvane.lnk opens the dialog (CPack adds Morvane\Uninstall.lnk).
  set(CPACK_NSIS_MENU_LINKS morvane.exe Morvane)
  # A 64-bit installer for 64-bit programs: it sees the 64-bit registry and Program Files as they
  # are, and runs where Windows (or Wine) has no 32-bit subsystem.
  # PATH: CPack's page for the choice, our steps for the folder (windows/installer.nsh).
  set(CPACK_NSIS_MODIFY_PATH ON)
  set(CPACK_NSIS_DEFINES "Target amd64-unicode\n!include \"${CMAKE_CURRENT_LIST_DIR}/installer.nsh\"")
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro MorvaneBeforeInstall")
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro MorvaneAddToPath")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro MorvaneRemoveFromPath")
  # CPack's uninstaller deletes HKLM\Software\<vendor>\Morvane; this step, which it runs after
  # that, takes the vendor's key along when nothing else is left in it.
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")
else()
  message(STATUS "makensis not found: cpack makes the zip, not the installer (Debian package nsis)")
endif()
include(CPack)
