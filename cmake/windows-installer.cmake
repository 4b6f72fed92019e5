# The Windows installer: `cmake --build build-windows --target
# upload-agent-setup` makes upload-agent-setup.exe in the build folder with
# NSIS (Debian's nsis, makensis) from packaging/windows/upload-agent.nsi.
#
# Its version is the Debian package's, the project's version (package.cmake).
# Its platform.ini is the example's, with the remote driver turned to ODBC:
# the Windows programs have no native MariaDB driver.
find_program(AGENT_MAKENSIS makensis)
if(NOT AGENT_MAKENSIS)
  message(STATUS "makensis not found: no Windows installer target (Debian package nsis)")
  return()
endif()

set(example ${CMAKE_SOURCE_DIR}/examples/platform.ini)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${example})
file(READ ${example} platform)
set(native "\nMySQL ODBC 3.51 Driver = mariadb")
set(odbc "\n;MySQL ODBC 3.51 Driver = odbc:MariaDB Unicode")
string(FIND "${platform}" "${native}" at_native)
string(FIND "${platform}" "${odbc}" at_odbc)
if(at_native EQUAL -1 OR at_odbc EQUAL -1)
  message(FATAL_ERROR "${example}: the installer turns its line \"MySQL ODBC 3.51 Driver = "
                      "mariadb\" into the commented ODBC line below it; one of them is gone")
endif()
string(REPLACE "${native}" "\n;MySQL ODBC 3.51 Driver = mariadb" platform "${platform}")
string(REPLACE "${odbc}" "\nMySQL ODBC 3.51 Driver = odbc:MariaDB Unicode" platform "${platform}")
set(windows_platform ${CMAKE_BINARY_DIR}/installer/platform.ini)
# Written only when it changes, so the installer is not remade at every
# configure.
file(WRITE ${CMAKE_BINARY_DIR}/installer/platform.ini.new "${platform}")
configure_file(${CMAKE_BINARY_DIR}/installer/platform.ini.new ${windows_platform} COPYONLY)

set(setup ${CMAKE_BINARY_DIR}/upload-agent-setup.exe)
set(script ${CMAKE_SOURCE_DIR}/packaging/windows/upload-agent.nsi)
add_custom_command(
  OUTPUT ${setup}
  COMMAND ${AGENT_MAKENSIS} -V2 -DVERSION=${CPACK_PACKAGE_VERSION}
          -DPROGRAMS=$<TARGET_FILE_DIR:upload-agent> -DSOURCE=${CMAKE_SOURCE_DIR}
          -DPLATFORM_INI=${windows_platform} -DOUTFILE=${setup} ${script}
  DEPENDS upload-agent agent-sql ${script} ${windows_platform} ${CMAKE_SOURCE_DIR}/schema/local.sql
          ${CMAKE_SOURCE_DIR}/schema/remote.sql ${CMAKE_SOURCE_DIR}/examples/Ostrel.INI
          ${CMAKE_SOURCE_DIR}/examples/remote-accounts.ini
  COMMENT "Making the Windows installer upload-agent-setup.exe"
  VERBATIM)
add_custom_target(upload-agent-setup DEPENDS ${setup})
