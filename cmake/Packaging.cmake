# Installation and the Debian packages: `orvex` (the service, orvex-admin, orvex-passwd, the unit,
# the docs; no Qt library) and, when the editor is built, `orvex-editor`, which depends on it. A
# headless server installs `orvex` alone.
include(GNUInstallDirs)
install(TARGETS orvex orvex-admin orvex-passwd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT orvex)
if(TARGET orvex-editor)
  install(TARGETS orvex-editor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT editor)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orvex.service DESTINATION lib/systemd/system
        COMPONENT orvex)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvex
        COMPONENT orvex)
install(FILES ${PROJECT_SOURCE_DIR}/docs/operators-guide.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvex COMPONENT orvex)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orvex-admin.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT orvex)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orvex-admin.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME orvex-admin
        COMPONENT orvex)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvex developers <orvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mailing-list manager that needs only POP3 mailboxes and an SMTP relay")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL orvex)
set(CPACK_DEBIAN_ORVEX_PACKAGE_NAME orvex)
set(CPACK_DEBIAN_ORVEX_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_ORVEX_PACKAGE_SUGGESTS "network-manager")
set(CPACK_DEBIAN_ORVEX_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_COMPONENT_ORVEX_DESCRIPTION
    "Mailing-list manager that needs only POP3 mailboxes and an SMTP relay\n The service, orvex-admin and orvex-passwd; no desktop libraries.")
if(TARGET orvex-editor)
  list(APPEND CPACK_COMPONENTS_ALL editor)
  set(CPACK_DEBIAN_EDITOR_PACKAGE_NAME orvex-editor)
  set(CPACK_DEBIAN_EDITOR_PACKAGE_SECTION mail)
  set(CPACK_DEBIAN_EDITOR_PACKAGE_DEPENDS "orvex (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_EDITOR_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/editor/postinst
                                                ${PROJECT_SOURCE_DIR}/packaging/editor/postrm)
  set(CPACK_COMPONENT_EDITOR_DESCRIPTION
      "Desktop editor for Orvex mailing lists\n The Qt editor of lists, members and notice texts.")
endif()
include(CPack)
