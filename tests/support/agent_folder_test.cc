#include "tests/support/agent_folder_test.h"

namespace agent::testing {

AgentFolderTest::AgentFolderTest(const std::string& name, const std::string& code, bool withSchema)
    : local_(name, withSchema), remote_(name), home_(local_, remote_, code) {
  if (!withSchema) {
    local_.execute("create table control (funivcode varchar(10), frecno varchar(20))");
  }
  local_.execute("insert into control (funivcode, frecno) values ('" + code + "', NULL)");
}

}  // namespace agent::testing
