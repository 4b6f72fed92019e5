// The cycle's locks (the side file beside the embedded database, the
// portal's user lock): each names its holder and lets go with it.
#include "app/core/cycle_lock.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/errors.h"

#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using namespace std::chrono_literals;

std::string firstValue(Connection& c, const std::string& sql) {
  std::unique_ptr<Recordset> rs = c.query(sql, Cursor::Forward);
  return rs->eof() ? std::string() : displayText(rs->field(0));
}

TEST(CycleLocks, AnotherHolderIsNamedItsReleaseLetsTheCycleInALeftSessionIsEnded) {
  testing::TempDir dir("cycle-lock");
  testing::RemoteTestDatabase portal("cycle_lock", false);
  std::unique_ptr<Connection> session = portal.connect();
  std::unique_ptr<Connection> other = portal.connect();
  Journal journal;
  PortalLockMemory memory;
  CycleLockPlace place;
  place.embeddedDatabase = dir / "office.sqlite";
  place.portal = session.get();
  place.localName = "office";
  place.portalName = portal.name();

  {
    // Another install holds the local lock: the portal is not even asked.
    std::optional<CycleLocks> theirs(std::in_place, place, "program folder /their/folder", 1s,
                                     journal, memory);
    ASSERT_EQ(theirs->refusal(), "");
    CycleLocks mine(place, "program folder /my/folder", 1s, journal, memory);
    EXPECT_NE(mine.refusal().find("local database office is in use by another upload agent "
                                  "(program folder /their/folder)"),
              std::string::npos)
        << mine.refusal();
    // Its session holds the portal lock until its locks go.
    const char* lockFree = "select is_used_lock(concat('upload-agent:', database())) is null";
    EXPECT_EQ(portal.scalar(lockFree), "0");
    theirs.reset();
    EXPECT_EQ(portal.scalar(lockFree), "1");
  }
  {
    // An install on another local database holds the portal account.
    ASSERT_EQ(firstValue(*other, "select get_lock(concat('upload-agent:', database()), 0)"), "1");
    CycleLocks mine(place, "program folder /my/folder", 1s, journal, memory);
    EXPECT_NE(mine.refusal().find("portal database " + portal.name() +
                                  " is in use by another upload agent (session "),
              std::string::npos)
        << mine.refusal();
  }
  // Refused, this cycle's locks let go of the local one too.
  other->execute("do release_lock(concat('upload-agent:', database()))");
  EXPECT_EQ(CycleLocks(place, "program folder /my/folder", 1s, journal, memory).refusal(), "");
  EXPECT_FALSE(memory.refusalNoted);

  // A power cut mid-cycle leaves its portal session holding the lock for
  // hours: the restarted agent finds its id in the program folder and ends
  // it; a session of another install is left alone.
  ASSERT_EQ(firstValue(*other, "select get_lock(concat('upload-agent:', database()), 0)"), "1");
  const std::string leftId = firstValue(*other, "select connection_id()");
  PortalLockMemory kept;
  kept.sessionFile = dir / kPortalSessionFileName;
  testing::writeFile(kept.sessionFile, "another_portal " + leftId + "\n");
  EXPECT_NE(CycleLocks(place, "me", 1s, journal, kept).refusal(), "");
  EXPECT_EQ(firstValue(*other, "select 1"), "1");  // alive
  testing::writeFile(kept.sessionFile, portal.name() + " " + leftId + "\n");
  EXPECT_EQ(CycleLocks(place, "me", 5s, journal, kept).refusal(), "");
  EXPECT_EQ(kept.lastSession, firstValue(*session, "select connection_id()"));
  EXPECT_THROW(firstValue(*other, "select 1"), AgentError);
  EXPECT_EQ(testing::readFile(kept.sessionFile), portal.name() + " " + kept.lastSession + "\n");
}

}  // namespace
}  // namespace agent
