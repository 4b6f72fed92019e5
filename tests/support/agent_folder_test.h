// The surroundings of a test that runs the whole agent on one program
// folder: a local test database whose control row names the institution
// (a bare database holding only the control table unless withSchema), a
// remote test database, the program folder pointing at both, the messages
// shown and the journal.
#ifndef AGENT_TESTS_SUPPORT_AGENT_FOLDER_TEST_H_
#define AGENT_TESTS_SUPPORT_AGENT_FOLDER_TEST_H_

#include <string>

#include <gtest/gtest.h>

#include "cycle/journal.h"
#include "tests/support/doubles.h"
#include "tests/support/local_database.h"
#include "tests/support/program_folder.h"
#include "tests/support/remote_server.h"

namespace agent::testing {

class AgentFolderTest : public ::testing::Test {
 protected:
  AgentFolderTest(const std::string& name, const std::string& code, bool withSchema = false)
      : local_(name, withSchema), remote_(name), home_(local_, remote_, code) {
    if (!withSchema)
      local_.execute("create table control (funivcode varchar(10), frecno varchar(20))");
    local_.execute("insert into control (funivcode, frecno) values ('" + code + "', NULL)");
  }

  std::size_t journalLinesWith(const std::string& text) const {
    return testing::journalLinesWith(journal_, text);
  }

  LocalTestDatabase local_;
  RemoteTestDatabase remote_;
  ProgramFolder home_;
  RecordedMessages messages_;
  Journal journal_;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_AGENT_FOLDER_TEST_H_
