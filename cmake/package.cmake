# The Linux package: `cpack -G DEB` in the build folder makes
# upload-agent_<version>_<arch>.deb with the programs, the schema files,
# example settings and the service unit upload-agent@.service.
#
# The package lays the files out as a Debian system does (programs in
# /usr/bin, the program folders under /var/lib/upload-agent), unlike a plain
# `cmake --install`, which lays out one program folder. So its rules are a
# component of their own, left out of a plain install, and the only one
# CPack installs.
include(GNUInstallDirs)

set(pkg COMPONENT package EXCLUDE_FROM_ALL)
install(TARGETS upload-agent agent-sql RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${pkg})
install(FILES ${CMAKE_SOURCE_DIR}/schema/local.sql ${CMAKE_SOURCE_DIR}/schema/remote.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/upload-agent/schema ${pkg})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/upload-agent/examples ${pkg})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/upload-agent
        ${pkg})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/upload-agent@.service
        DESTINATION lib/systemd/system ${pkg})
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};package;/")

set(CPACK_PACKAGE_NAME upload-agent)
set(CPACK_PACKAGE_VENDOR "upload agent")
set(CPACK_PACKAGE_CONTACT "upload agent maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Keeps a school portal's database in step with the office's administration database")
if(PROJECT_VERSION)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
else()
  set(CPACK_PACKAGE_VERSION 1.0.0)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Library dependencies from the programs themselves (dpkg-shlibdeps), the
# user creation's tool, and the ODBC drivers an office usually needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-mariadb, tdsodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/linux/postinst ${CMAKE_SOURCE_DIR}/packaging/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
