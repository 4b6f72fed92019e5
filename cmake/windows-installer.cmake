# The Windows installer: `cmake --build build-windows --target
# upload-agent-setup` makes upload-agent-setup.exe in the build folder with
# NSIS (Debian's nsis, makensis) from packaging/windows/upload-agent.nsi.
#
# Its version is the Debian package's, the project's version (package.cmake).
# Its platform.ini is the Windows example, whose portal driver is ODBC: the
# Windows programs have no native MariaDB driver.
find_program(AGENT_MAKENSIS makensis)
if(NOT AGENT_MAKENSIS)
  message(STATUS "makensis not found: no Windows installer target (Debian package nsis)")
  return()
endif()

# The Windows program's example platform.ini, as the zip has it
# (agent_windows_platform_example in windows.cmake).
set(windows_platform ${example_platform})

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
