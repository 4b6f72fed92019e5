// Which payment stage an institution's cycle runs, and which leftover object
// an error names.
#include <gtest/gtest.h>

#include "cycle/leftover_recovery.h"
#include "cycle/stage.h"

namespace agent {
namespace {

std::size_t noRows(CycleContext&) {
  return 0;
}

TEST(Gates, PaymentStagesExcludeEachOther) {
  const Stage download{"download", noRows, StageGate::Download};
  const Stage posting{"posting", noRows, StageGate::PostingUnlessDownload};
  struct Case {
    const char* code;
    bool download, posting;
  } cases[] = {
      {"P019", true, false},  {"P037", true, false}, {"P001", false, true},
      {"P038", false, true},  {"P00", false, true},  // a code that starts a listed one
      {"P028", false, false}, {"P01", false, true},  // in P014; the download list wants "P01*"
      {"p019", false, false}, {"", true, false},     // empty: "*" alone is found
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stageApplies(download, c.code), c.download) << c.code;
    EXPECT_EQ(stageApplies(posting, c.code), c.posting) << c.code;
  }
}

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
