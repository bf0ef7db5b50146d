# Installing Idlix as a desktop program, and its Debian package.
#
#   cmake --install build --prefix /usr/local     # the files below, under a prefix
#   cpack -G DEB   (in the build folder)          # or: cmake --build build --target package
#
# Layout under the prefix: bin/idlix; share/idlix (help and animation, found
# there by the program when they are not beside it); the desktop entry, the
# AppStream metadata, the icon in the hicolor theme and the manual page.
# The settings and logs are not installed: the program makes them in the
# user's configuration folder (src/platform/appdir.h).
include(GNUInstallDirs)

set(IDLIX_APP_ID com.brisvane.Idlix)
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS idlix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The print dialog's module, loaded on the first Print (src/desktop/printdialog.h).
# A folder below the package's own: one right below /usr/lib would have the
# package generator add ldconfig calls that a private module does not need.
install(TARGETS idlix-print LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/idlix/modules)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/idlix
  PATTERN ".*" EXCLUDE)
install(FILES ${_pkg}/${IDLIX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/${IDLIX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Manual pages are installed compressed; -n keeps the archive free of a time
# stamp so that rebuilding gives the same package.
find_program(IDLIX_GZIP gzip REQUIRED)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pkg}/idlix.1)
execute_process(COMMAND ${IDLIX_GZIP} -9n -c ${_pkg}/idlix.1
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/idlix.1.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/idlix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The build folder is a portable copy: the program keeps its settings beside
# itself there, as it always has, rather than in the user's folder. An
# existing settings file is left alone.
get_target_property(_idlix_dir idlix RUNTIME_OUTPUT_DIRECTORY)
if(NOT _idlix_dir)
  get_target_property(_idlix_dir idlix BINARY_DIR)
endif()
if(NOT EXISTS ${_idlix_dir}/idlix2.ini)
  file(WRITE ${_idlix_dir}/idlix2.ini "")
endif()

# The Debian package. cpack packages what is built (installing does not build
# every test first); the package target builds everything, then packages.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME idlix)
set(CPACK_PACKAGE_VENDOR "Brisvane Software")
set(CPACK_PACKAGE_CONTACT "Idlix developers <idlix@brisvane.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep an idle-sensitive Internet connection alive")
set(CPACK_PACKAGE_DESCRIPTION [[
Idlix sends one small probe (an ICMP echo or an HTTP GET) every few
minutes to one host or, in turn, to every server of a list, so that the
provider does not drop an idle line, and reports how each probe went.
Around that it offers a latency test, ping, traceroute, finger, a host/IP
resolver and an ISP tree, and it controls the dial-up line.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.brisvane.com/idlix/")
# Libraries come from dpkg-shlibdeps; Qt's platform plugins and OpenSSL (by
# the first https:// probe) are loaded at run time, so nothing links them,
# and setcap is what the post-install step uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libssl3, libcap2-bin")
# Liberation Sans is the face whose widths fit the window's captions; DejaVu
# covers the characters it lacks.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, fonts-dejavu-core, fonts-dejavu-extra")
set(IDLIX_INSTALLED_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/idlix)
include(${CMAKE_CURRENT_LIST_DIR}/service-install.cmake)
configure_file(${_pkg}/debian/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
