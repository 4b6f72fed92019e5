// Values the portal's server does not store as they were sent: a name too
// long for a narrowed column, a mark clipped by an update outside strict
// mode. Each is a journal line naming table and column and counted for the
// cycle; a value of the agent's own statements ends the stage; a clipped
// table is not vouched for by change detection, so the next cycle after the
// column is widened puts it right.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "cycle/server_warnings.h"
#include "tests/upload/mirror_fixture.h"
#include "upload/change_state.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class ClippedValuesTest : public testing::MirrorFixture {
 protected:
  // Change detection on, as with changes_only = yes.
  void detectChanges() {
    state_ = std::make_unique<ChangeState>(home_ / ChangeState::kFileName);
    state_->bindRemote("portal");
    ctx_.changes.state = state_.get();
  }
  std::unique_ptr<ChangeState> state_;
};

TEST_F(ClippedValuesTest, AClippedNameIsReportedAndMergedInFullOnceTheColumnIsWidened) {
  detectChanges();
  insertLocal("college (fcollcode, fcollname)",
              {"'C01', 'Government Arts College'", "'C02', 'Law'"});
  remoteDb_.execute("alter table college modify fcollname varchar(10)");

  EXPECT_EQ(uploadColleges(ctx_), 2u);  // text clipped: the stage goes on
  EXPECT_EQ(remote("select fcollname from college where fcollcode = 'C01'"), "Government");
  EXPECT_EQ(journalLinesWith("college: the portal's server changed values of it; change "
                             "detection does not vouch for it"),
            1u);

  // Nothing changed locally, but the state did not take the clipped lines:
  // the widened column gets the whole name.
  remoteDb_.execute("alter table college modify fcollname varchar(100)");
  EXPECT_EQ(uploadColleges(ctx_), 2u);
  EXPECT_EQ(journalLinesWith("college: full merge (no state of it), 2 rows sent"), 1u);
  EXPECT_EQ(remote("select fcollname from college where fcollcode = 'C01'"),
            "Government Arts College");
  // And from then on the table is vouched for again.
  EXPECT_EQ(uploadColleges(ctx_), 0u);
  EXPECT_EQ(journalLinesWith("college: changes only, 0 of 2 rows sent"), 1u);
}

// A mark is the agent's own update: clipped, it is an error even where the
// session is not strict.
TEST_F(ClippedValuesTest, AClippedMarkIsAnError) {
  remoteDb_.execute(
      "insert into rzp_paymentgateway (forderid, fadmno, famtpaidtoinst) values ('O1', 'S1', 10)");
  remoteDb_.execute("alter table rzp_paymentgateway modify frecno varchar(4)");
  recorded_.execute("set sql_mode = ''");
  try {
    recorded_.execute(
        "update rzp_paymentgateway set frecno = 'R00123', fdownloaddate = now() where forderid = "
        "'O1'");
    FAIL() << "a clipped mark was reported as success";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.number(), error_number::kDataConversion);
    EXPECT_NE(e.description().find("rzp_paymentgateway"), std::string::npos) << e.description();
  }
  EXPECT_EQ(remote("select frecno from rzp_paymentgateway"), "R001");
}

}  // namespace
}  // namespace agent
