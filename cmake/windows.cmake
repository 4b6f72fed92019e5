# The Windows build's third-party parts, as the targets the Linux build gets
# from find_package: SQLite from its amalgamation (made by
# scripts/windows.sh), spdlog, fmt and CLI11 header-only from a folder that
# holds only their header folders, GoogleTest from its source, and the
# system's odbc32. Included from the top-level CMakeLists.txt when WIN32.
set(AGENT_WINDOWS_SQLITE "" CACHE PATH "folder holding sqlite3.c and sqlite3.h")
set(AGENT_WINDOWS_HEADERS "" CACHE PATH "folder holding only the spdlog, fmt and CLI header folders")
set(AGENT_WINDOWS_GTEST /usr/src/googletest CACHE PATH "GoogleTest source")
foreach(required AGENT_WINDOWS_SQLITE AGENT_WINDOWS_HEADERS)
  if(NOT ${required})
    message(FATAL_ERROR "${required} is not set: build for Windows with scripts/windows.sh")
  endif()
endforeach()

# Wide Win32 API everywhere; no min/max macros over std::min/std::max.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)

enable_language(C)
enable_language(RC)  # the program's icon (app/win32/agent.rc)
add_library(agent_sqlite3 STATIC ${AGENT_WINDOWS_SQLITE}/sqlite3.c)
target_include_directories(agent_sqlite3 SYSTEM PUBLIC ${AGENT_WINDOWS_SQLITE})
target_compile_definitions(agent_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                                                 SQLITE_ENABLE_MATH_FUNCTIONS)
set_source_files_properties(${AGENT_WINDOWS_SQLITE}/sqlite3.c PROPERTIES COMPILE_OPTIONS "-w")
add_library(SQLite::SQLite3 ALIAS agent_sqlite3)

add_library(fmt::fmt INTERFACE IMPORTED)
target_include_directories(fmt::fmt SYSTEM INTERFACE ${AGENT_WINDOWS_HEADERS})
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)
add_library(spdlog::spdlog INTERFACE IMPORTED)
# Wide file names: the journal lives in the program folder, whose name may
# hold any character.
target_compile_definitions(spdlog::spdlog INTERFACE SPDLOG_FMT_EXTERNAL SPDLOG_WCHAR_FILENAMES)
target_link_libraries(spdlog::spdlog INTERFACE fmt::fmt)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${AGENT_WINDOWS_HEADERS})

add_library(PkgConfig::ODBC INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ODBC INTERFACE odbc32)

set(Threads_FOUND TRUE)

# The unit tests that need no server, as one Windows program; the server's
# side is tested by running upload-agent.exe --once (scripts/windows.sh --test).
function(agent_windows_tests)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${AGENT_WINDOWS_GTEST} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(dir ${CMAKE_SOURCE_DIR}/tests)
  add_executable(windows_unit_tests
    ${dir}/support/temp_dir.cc ${dir}/support/local_database.cc
    ${dir}/db/embedded_conversion_test.cc ${dir}/db/embedded_engine_test.cc
    ${dir}/config/settings_test.cc
    ${dir}/upload/clean_string_test.cc ${dir}/upload/export_writer_test.cc
    ${dir}/upload/value_text_test.cc
    ${dir}/payments/payment_rules_test.cc
    ${dir}/app/leftovers_test.cc ${dir}/app/schedule_test.cc)
  file(GLOB platform_tests CONFIGURE_DEPENDS ${dir}/platform/*.cc)
  target_sources(windows_unit_tests PRIVATE ${platform_tests})
  file(GLOB win32_tests CONFIGURE_DEPENDS ${dir}/win32/*.cc)
  target_sources(windows_unit_tests PRIVATE ${win32_tests})
  target_include_directories(windows_unit_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(windows_unit_tests PRIVATE AGENT_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                        AGENT_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(windows_unit_tests PRIVATE agent_win32 GTest::gmock GTest::gtest_main)
  # PAUSE and CONTINUE for the service test (Wine's sc.exe has neither).
  add_executable(service-control ${dir}/tools/service_control_main.cc)
  target_link_options(service-control PRIVATE -municode)
endfunction()

# The example platform.ini of the Windows program: the Linux example with
# its [drivers] section replaced by examples/windows/drivers.ini (no native
# MariaDB driver on Windows: the portal is reached through ODBC). Sets var
# to the file made in the build folder.
function(agent_windows_platform_example var)
  set(source ${CMAKE_SOURCE_DIR}/examples/platform.ini)
  set(drivers ${CMAKE_SOURCE_DIR}/examples/windows/drivers.ini)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source} ${drivers})
  file(READ ${source} text)
  file(READ ${drivers} windows_drivers)
  string(FIND "${text}" "[drivers]" begin)
  string(FIND "${text}" "\n[regional]" end)
  if(begin EQUAL -1 OR end EQUAL -1)
    message(FATAL_ERROR "examples/platform.ini: no [drivers] section followed by [regional]")
  endif()
  string(SUBSTRING "${text}" 0 ${begin} head)
  string(SUBSTRING "${text}" ${end} -1 tail)
  file(WRITE ${CMAKE_BINARY_DIR}/examples/platform.ini "${head}${windows_drivers}${tail}")
  set(${var} ${CMAKE_BINARY_DIR}/examples/platform.ini PARENT_SCOPE)
endfunction()

# MariaDB Connector/C, cross-built by scripts/windows.sh as a static library
# with Schannel: the native remote driver, as on Linux.
set(AGENT_WINDOWS_CONNECTOR_C "" CACHE PATH "folder holding Connector/C's include/ and lib/")
if(AGENT_WINDOWS_CONNECTOR_C)
  add_library(PkgConfig::MARIADB INTERFACE IMPORTED)
  target_include_directories(PkgConfig::MARIADB SYSTEM INTERFACE ${AGENT_WINDOWS_CONNECTOR_C}/include)
  target_link_libraries(PkgConfig::MARIADB INTERFACE
    ${AGENT_WINDOWS_CONNECTOR_C}/lib/libmariadbclient.a ws2_32 secur32 crypt32 shlwapi bcrypt
    advapi32 version)
  set(MARIADB_FOUND TRUE)
endif()
