# cmake --install puts the programs where Debian puts them: pkgtool, its
# manual page and completion (component pkgtool), and installer with its
# manual page (component installer). `cmake --build build --target package`
# makes the Debian package of the host's pkgtool: the program, page and
# completion, and no key file (the public key it trusts is built in).
include(GNUInstallDirs)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/installer.8
  COMMAND ${CMAKE_COMMAND} -DSCDOC=${SCDOC} -DSOURCE=${CMAKE_SOURCE_DIR}/doc/man/installer.8.scd
          -DOUTPUT=${CMAKE_BINARY_DIR}/installer.8 -P ${CMAKE_SOURCE_DIR}/cmake/manual_page.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/man/installer.8.scd ${CMAKE_SOURCE_DIR}/cmake/manual_page.cmake
  VERBATIM)
add_custom_target(installer_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/installer.8)
install(TARGETS installer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT installer)
install(FILES ${CMAKE_BINARY_DIR}/installer.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT installer)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pkgtool)
set(CPACK_PACKAGE_VERSION ${PKGTOOL_VERSION})
set(CPACK_PACKAGE_CONTACT "Veltra installer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes, inspects and verifies signed Veltra package files")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL pkgtool)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME pkgtool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
