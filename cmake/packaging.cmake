# Where `cmake --install` puts things, and what `cpack` packs: on Linux a Debian
# package of the mosslane tool, for Windows a zip of the shipped files.
include(GNUInstallDirs)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "MossLane")
set(CPACK_PACKAGE_CONTACT "MossLane maintainers <mosslane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Files to and from a PC on a serial null-modem cable")

if(WIN32)
  get_target_property(help_file mosslane_assets MOSSLANE_HELP_FILE)
  install(TARGETS MossLane RUNTIME DESTINATION .)
  install(FILES ${help_file} DESTINATION .)
  if(TARGET tallylib)
    install(TARGETS tallylib RUNTIME DESTINATION . ARCHIVE DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/tallylib/include/tallylib.h DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/tallylib.md
          DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME MossLane)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS mosslane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/mosslane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/mosslane.md ${PROJECT_SOURCE_DIR}/docs/mosslane.service
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/mosslane)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME mosslane)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION comm)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  set(CPACK_STRIP_FILES ON)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
      "Speaks the MossLane link protocol on a serial device, to move files to and from\n"
      "an old Windows PC running MossLane: one-shot send and receive commands or a\n"
      "standing poll cycle, names in code page 1252 on the wire.")
endif()
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
if(NOT WIN32)
  unset(CPACK_PACKAGE_FILE_NAME)
endif()
include(CPack)
