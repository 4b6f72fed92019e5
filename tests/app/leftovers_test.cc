// Which leftover object an error names.
#include <gtest/gtest.h>

#include "cycle/leftover_recovery.h"

namespace agent {
namespace {

TEST(Leftovers, LongerNameIsTestedFirst) {
  auto receipt =
      leftoverNamedIn("There is already an object named '#TMPUPRECEIPT' in the database.");
  ASSERT_TRUE(receipt);
  EXPECT_STREQ(receipt->drop, "drop table #TMPUPRECEIPT");
  auto rec = leftoverNamedIn("There is already an object named '#TMPUPREC' in the database.");
  ASSERT_TRUE(rec);
  EXPECT_STREQ(rec->drop, "drop table #TMPUPREC");
  EXPECT_STREQ(leftoverNamedIn("... 'BALPG' ...")->drop, "DROP VIEW BALPG");
  EXPECT_STREQ(leftoverNamedIn("... '#tmpsmslog' ...")->drop, "drop table #tmpsmslog");
  EXPECT_FALSE(leftoverNamedIn("... '#TMPSMSLOG' ..."));  // case-sensitive
  EXPECT_FALSE(leftoverNamedIn("Invalid object name 'student'."));
}

}  // namespace
}  // namespace agent
