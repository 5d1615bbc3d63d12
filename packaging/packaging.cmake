# Where `cmake --install` puts things, and the .deb that CPack builds from it.
include(GNUInstallDirs)

install(TARGETS zentry zentry-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/zentry.1 ${CMAKE_SOURCE_DIR}/docs/man/zentry-host.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/zentry.dat.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${CMAKE_SOURCE_DIR}/docs/rules.md ${CMAKE_SOURCE_DIR}/docs/deploy.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/rules/zentry.dat DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

include(${CMAKE_CURRENT_LIST_DIR}/milter.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentry)
set(CPACK_PACKAGE_VERSION ${ZENTRY_VERSION})
set(CPACK_PACKAGE_CONTACT "Zentry maintainers <zentry@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail filter that intercepts messages by attachment name and subject")
set(CPACK_PACKAGE_DESCRIPTION
    "Zentry checks the attachment names and the subject of a message against wildcard rules\nand tells the mail server which messages to intercept. zentry-host runs it the way a\nserver does: on one message from a delivery agent, or over a whole mailbox to try a rules file.")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(ZENTRY_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZENTRY_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # zentry-host links libarchive dynamically (the filter has it built in).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libarchive13")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
