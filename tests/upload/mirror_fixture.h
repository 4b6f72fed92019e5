// The setting of a table stage test: a fresh remote database on the test
// MariaDB server (through the real ODBC driver, every statement recorded),
// a fresh embedded local database with the local schema, and a program
// folder with its CSV folder.
#ifndef AGENT_TESTS_UPLOAD_MIRROR_FIXTURE_H_
#define AGENT_TESTS_UPLOAD_MIRROR_FIXTURE_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "config/platform_config.h"
#include "cycle/cycle_context.h"
#include "cycle/leftover_recovery.h"
#include "cycle/server_warnings.h"
#include "tests/support/doubles.h"
#include "tests/support/local_database.h"
#include "tests/support/program_folder.h"
#include "tests/support/recording_connection.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {

class MirrorFixture : public ::testing::Test {
 protected:
  // The portal's database and tables in charsets; the cycle's export code
  // page learnt from it as a cycle does.
  explicit MirrorFixture(const PortalCharsets& charsets = {});

  // A context for institution code as a cycle gives its stages: the local
  // connection drops a temporary table of an earlier run when it meets it.
  CycleContext cycleContext(const std::string& code = "P028") {
    return {recovering_, recorded_, home_.path(), config_, code, messages_, journal_, clock_};
  }
  // The remote statements the stages sent (queries of the tests excluded).
  const std::vector<std::string>& remoteStatements() const { return recorded_.executed(); }
  // Each of them by its first words: "load " and the table of a load, the
  // text before " set " or " = concat_ws(" of any other.
  std::vector<std::string> statementHeads() const;
  // The names of the remote tables like pattern, in order, joined by ",".
  std::string remoteTables(const std::string& pattern) const;
  std::filesystem::path exportPath(const std::string& name) const { return home_ / "CSV" / name; }
  std::string exportFile(const std::string& name) const { return readFile(exportPath(name)); }
  // The first column of the first row of a remote query, as text.
  std::string remote(const std::string& sql) const { return remoteDb_.scalar(sql); }
  // The remote rows of a query, each row's columns joined by "|" (NULL as
  // "<null>", dates without their midnight time), rows joined by "\n".
  std::string remoteRows(const std::string& sql) const;
  void local(const std::string& sql) { localDb_.execute(sql); }
  // One insert per row: into names the table and its columns ("college
  // (fcollcode, fcollname)"), each row holds SQL values.
  void insertLocal(const std::string& into, std::initializer_list<std::string> rows) {
    for (const std::string& row : rows) local("insert into " + into + " values (" + row + ")");
  }
  std::size_t journalLinesWith(const std::string& text) const {
    return testing::journalLinesWith(journal_, text);
  }

  RemoteTestDatabase remoteDb_;
  std::unique_ptr<Connection> remoteConnection_;
  Journal journal_;
  ServerWarnings serverWarnings_;
  WarningCheckedConnection checked_;  // as the agent's cycle reads warnings
  RecordingConnection recorded_;
  LocalTestDatabase localDb_;
  RecoveringConnection recovering_{localDb_.connection(), localDb_.connection(), journal_};
  TempDir home_;
  PlatformConfig config_;
  testing::RecordedMessages messages_;
  SystemClock clock_;
  CycleContext ctx_{
      localDb_.connection(), recorded_, home_.path(), config_, "P028", messages_, journal_, clock_};
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_UPLOAD_MIRROR_FIXTURE_H_
