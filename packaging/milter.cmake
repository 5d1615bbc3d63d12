# zentry-milter in the package: the daemon, its manual page (compressed, as
# Debian wants), its systemd unit, its default settings, and the postinst
# that makes the system user it runs as.
set(ZENTRY_MILTER_MAN ${CMAKE_CURRENT_BINARY_DIR}/zentry-milter.8.gz)
add_custom_command(OUTPUT ${ZENTRY_MILTER_MAN}
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/man/zentry-milter.8 > ${ZENTRY_MILTER_MAN}
                   DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/zentry-milter.8 VERBATIM)
add_custom_target(zentry_milter_man ALL DEPENDS ${ZENTRY_MILTER_MAN})

install(TARGETS zentry-milter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZENTRY_MILTER_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zentry-milter.service DESTINATION /lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zentry-milter.conf DESTINATION /etc/zentry)
set(ZENTRY_MILTER_CONTROL ${CMAKE_CURRENT_LIST_DIR}/postinst)
