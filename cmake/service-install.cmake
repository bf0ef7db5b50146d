# The headless service in the install and the Debian package: the program
# that `idlix --headless` hands over to, its systemd units (installed, never
# enabled: the package runs no systemctl), and the package's copyright and
# changelog. Included by install.cmake.
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

# Not a command of its own: `idlix --headless` finds it under libexec.
install(TARGETS idlix-headless RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/idlix)
# systemd's search paths under the prefix (/usr/lib/systemd/... in the package).
install(FILES ${_pkg}/systemd/idlix.service ${_pkg}/systemd/idlix-reflector.service
  DESTINATION lib/systemd/system)
install(FILES ${_pkg}/systemd/user/idlix.service DESTINATION lib/systemd/user)
# Recording rules and alerts for the Prometheus that receives the figures.
install(FILES ${_pkg}/prometheus/idlix-rules.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/idlix)

# Debian's documents of the package, the changelog compressed without a time
# stamp as the manual page is.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pkg}/debian/changelog)
execute_process(COMMAND ${IDLIX_GZIP} -9n -c ${_pkg}/debian/changelog
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${_pkg}/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/idlix)
set(IDLIX_INSTALLED_SERVICE
  ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/idlix/idlix-headless)
