# Where `cmake --install` puts things, and the .deb that CPack builds from it.
include(GNUInstallDirs)

# The rules file and the log folder the deployment guide's recipes use. These
# are absolute: they belong under /etc and /var whatever the prefix (as root;
# a private install sets ZENTRY_CONFIG_DIR and ZENTRY_LOG_DIR elsewhere).
set(ZENTRY_CONFIG_DIR /etc/zentry CACHE PATH "Where the installed rules file zentry.dat goes")
set(ZENTRY_LOG_DIR /var/log/zentry CACHE PATH "The folder made for zentry-host --log files")

# Manual pages and the changelog go compressed, as Debian wants them.
set(ZENTRY_GZIPPED)
foreach(source docs/man/zentry.1 docs/man/zentry-host.1 docs/man/zentry-archive.1 docs/man/zentry.dat.5 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${gzipped} COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/${source} > ${gzipped}
                     DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND ZENTRY_GZIPPED ${gzipped})
endforeach()
add_custom_target(zentry_gzipped_docs ALL DEPENDS ${ZENTRY_GZIPPED})

# zentry-archive sits beside zentry, where the filter looks for it.
install(TARGETS zentry zentry-host zentry-archive RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zentry.1.gz ${CMAKE_CURRENT_BINARY_DIR}/zentry-host.1.gz
              ${CMAKE_CURRENT_BINARY_DIR}/zentry-archive.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zentry.dat.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${CMAKE_SOURCE_DIR}/docs/rules.md ${CMAKE_SOURCE_DIR}/docs/deploy.md
              ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/rules/zentry.dat DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/examples/recipes/zentry.procmailrc ${CMAKE_SOURCE_DIR}/examples/recipes/zentry.mailfilter
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/recipes)
install(FILES ${CMAKE_SOURCE_DIR}/examples/rules/zentry.dat DESTINATION ${ZENTRY_CONFIG_DIR})
install(DIRECTORY DESTINATION ${ZENTRY_LOG_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zentry)

include(${CMAKE_CURRENT_LIST_DIR}/milter.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentry)
set(CPACK_PACKAGE_VERSION ${ZENTRY_VERSION})
set(CPACK_PACKAGE_CONTACT "Zentry maintainers <zentry@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail filter that intercepts messages by attachment name and subject")
set(CPACK_PACKAGE_DESCRIPTION
    "Zentry checks the attachment names and the subject of a message against\nwildcard rules and tells the mail server which messages to intercept.\nzentry-host runs it the way a server does: on one message from a delivery\nagent, or over a whole mailbox to try a rules file.")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies are the libraries the programs load, as dpkg-shlibdeps
# (dpkg-dev) reads them: libarchive13 for the lister, libmilter for the milter,
# the C and C++ runtimes. Without it CPack writes no Depends at all, which
# tools/test-deb.sh refuses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The rules under /etc are the administrator's: dpkg keeps their edits.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "${ZENTRY_CONFIG_DIR}/zentry.dat\n/etc/zentry/zentry-milter.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles ${ZENTRY_MILTER_CONTROL})
include(CPack)
