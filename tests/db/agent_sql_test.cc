// agent-sql as the demo and an administrator use it: a script of GO batches
// run on the embedded engine through platform.ini's driver map, rows
// printed pipe-separated under a header, and an error reported with its
// number and a non-zero exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/script_batches.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

class AgentSql : public ::testing::Test {
 protected:
  AgentSql() {
    testing::writeFile(home_ / "platform.ini", "[drivers]\nSQL Server = embedded\n");
    std::filesystem::create_directories(home_ / "server");
    testing::writeFile(home_ / "server" / "server.ini", "[server]\nsa_password = Secret-1\n");
  }

  // Runs agent-sql with the login options and args; standard output and
  // standard error are caught in files.
  ProgramRun run(const std::string& args, const std::string& login = "-U sa -P Secret-1",
                 const std::string& before = "") {
    const std::filesystem::path binary =
        std::filesystem::path(AGENT_BINARY_DIR) / "bin" / "agent-sql";
    if (!std::filesystem::exists(binary)) {
      ADD_FAILURE() << "build the agent-sql target first: " << binary;
      return {};
    }
    const std::string command = before + binary.string() + " --home " + home_.path().string() +
                                " -S " + (home_ / "server").string() + " " + login + " " + args +
                                " >" + (home_ / "out.txt").string() + " 2>" +
                                (home_ / "err.txt").string();
    ProgramRun result;
    int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = testing::readFile(home_ / "out.txt");
    result.err = testing::readFile(home_ / "err.txt");
    return result;
  }

  testing::TempDir home_{"agent_sql"};
};

// Rows under a header; an error with its number and text, and a failure;
// the password from a file, standard input or the environment.
TEST_F(AgentSql, RunsGoBatchesAndPrintsRowsUnderAHeaderOrTheError) {
  ASSERT_EQ(run("-Q \"CREATE DATABASE demo\"").status, 0);
  testing::writeFile(home_ / "script.sql",
                     "CREATE TABLE mascat (fcatcode varchar(10) NOT NULL, fcatdesc varchar(100) "
                     "NULL, famount numeric(12,2) NULL, fdate datetime NULL)\r\n"
                     "go\r\n"
                     "INSERT INTO mascat VALUES ('GEN', 'General', 1500.50, '2024-03-05')\n"
                     "INSERT INTO mascat VALUES ('OBC', NULL, NULL, NULL)\n"
                     "  GO  \n"
                     "SELECT * FROM mascat ORDER BY fcatcode\n");
  ProgramRun result = run("-d demo -i " + (home_ / "script.sql").string());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "fcatcode|fcatdesc|famount|fdate\n"
            "GEN|General|1500.50|2024-03-05 00:00:00\n"
            "OBC|||\n");
  // GO lines with nothing between them make no batch of their own.
  EXPECT_EQ(splitBatches("\xEF\xBB\xBFselect 1\r\nGO\r\n \r\n go\nGO\nselect 2\nGO\n"),
            (std::vector<std::string>{"select 1\r\n", "select 2\n"}));

  result = run("-d demo -Q \"select * from nothere\"");
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("-2147217865"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Invalid object name 'nothere'."), std::string::npos) << result.err;

  // The SA password need not stand on the command line, where every user of
  // the machine sees it in the process list; a wrong one is still refused.
  testing::writeFile(home_ / "sa.txt", "Secret-1\r\n");
  const std::string query = "-Q \"select 1 as one\"";
  EXPECT_EQ(run(query, "-U sa --password-file " + (home_ / "sa.txt").string()).status, 0);
  EXPECT_EQ(run(query, "-U sa -P -", "echo Secret-1 | ").status, 0);
  EXPECT_EQ(run(query, "-U sa", "SQLCMDPASSWORD=Secret-1 ").status, 0);
  ProgramRun wrong = run(query, "-U sa", "SQLCMDPASSWORD=Not-It ");
  EXPECT_NE(wrong.status, 0);
  EXPECT_EQ(wrong.out, "");
}

}  // namespace
}  // namespace agent
