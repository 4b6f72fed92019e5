# The Linux package: `cpack -G DEB` in the build folder makes
# upload-agent_<version>_<arch>.deb with the programs, the schema files,
# example settings and the service unit upload-agent@.service.
#
# The install rules for the programs, the schema and the examples stand
# here only while the project has none of its own (AGENT_INSTALL_RULES set
# by them turns these off); the unit's rule is the package's own.
include(GNUInstallDirs)

if(NOT AGENT_INSTALL_RULES)
  install(TARGETS upload-agent agent-sql RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/schema/local.sql ${CMAKE_SOURCE_DIR}/schema/remote.sql
          DESTINATION ${CMAKE_INSTALL_DATADIR}/upload-agent/schema)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/upload-agent/examples)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/upload-agent)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/upload-agent@.service
        DESTINATION lib/systemd/system)

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
