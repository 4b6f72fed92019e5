// The change-detection state store on its own: what a run sends, what it
// keeps, what a run that never commits leaves, and how a store of the older
// per-line layout is met.
#include "upload/change_state.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using Offer = ChangeState::Offer;

class ChangeStateTest : public ::testing::Test {
 protected:
  Offer offer(ChangeState& s, const std::string& raw, std::uint64_t digest) {
    return s.offer("t", keyHash(raw), raw, digest);
  }
  void commit(ChangeState& s, bool dropVanished = false) {
    ChangeState::TableState state;
    state.expectedRows = 1;
    s.commit("t", state, dropVanished);
  }

  testing::TempDir dir_{"state"};
  std::filesystem::path file_ = dir_ / ChangeState::kFileName;
};

// Keys compare as the portal compares them; a changes-only run sends new
// and changed lines once, and names the keys it did not meet by their raw
// texts; dropping them makes them new again. A run that is never committed
// (a failed or killed cycle) leaves the state as it was, for this store and
// for the next process; another remote database empties it.
TEST_F(ChangeStateTest, SendsNewAndChangedLinesOnceAndKeepsOnlyCommittedRuns) {
  const std::string key = std::string("ab\x1F") + "x";  // two fields
  EXPECT_EQ(keyHash(std::string("AB\x1F") + "x  "), keyHash(key));
  EXPECT_NE(keyHash(key), keyHash("abx"));
  EXPECT_NE(keyHash(key), keyHash(std::string("a\x1F") + "bx"));
  {
    ChangeState s(file_);
    s.bindRemote("server/db");
    s.begin("t", true, true);
    for (const char* key : {"K1", "K2", "K3"}) EXPECT_EQ(offer(s, key, 1), Offer::SendNew);
    commit(s);

    s.begin("t", false, true);
    EXPECT_EQ(offer(s, "k1", 1), Offer::Unchanged);
    EXPECT_EQ(offer(s, "K2", 2), Offer::SendChanged);
    EXPECT_EQ(offer(s, "K2", 3), Offer::RepeatedKey);
    EXPECT_EQ(offer(s, "K4", 1), Offer::SendNew);
    EXPECT_EQ(offer(s, "K4 ", 5), Offer::RepeatedKey);
    EXPECT_EQ(s.vanishedKeys("t"), std::vector<std::string>{"K3"});
    commit(s, true);

    s.begin("t", false, true);
    EXPECT_EQ(offer(s, "K1", 1), Offer::Unchanged);
    EXPECT_EQ(offer(s, "K2", 2), Offer::Unchanged);
    EXPECT_EQ(offer(s, "K3", 1), Offer::SendNew);
    EXPECT_EQ(offer(s, "K4", 1), Offer::Unchanged);
    EXPECT_TRUE(s.vanishedKeys("t").empty());
    commit(s);
    ASSERT_TRUE(s.table("t").has_value());
    EXPECT_TRUE(s.table("t")->finished);

    s.markStarted("t");
    s.begin("t", false, true);
    EXPECT_EQ(offer(s, "K1", 2), Offer::SendChanged);
  }
  ChangeState s(file_);
  s.bindRemote("server/db");
  ASSERT_TRUE(s.table("t").has_value());
  EXPECT_FALSE(s.table("t")->finished);
  s.begin("t", false, true);
  EXPECT_EQ(offer(s, "K1", 2), Offer::SendChanged);
  EXPECT_EQ(offer(s, "K2", 2), Offer::Unchanged);
  s.bindRemote("server/other");
  EXPECT_FALSE(s.table("t").has_value());
}

// A store written in the older layout (one SQLite row per line) is emptied
// on opening: every table is then merged in full once.
TEST_F(ChangeStateTest, AStoreOfTheOlderLayoutIsEmptied) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.string().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE remote (identity TEXT); INSERT INTO remote VALUES "
                         "('server/db'); CREATE TABLE mirror (tbl TEXT PRIMARY KEY, last_full, "
                         "expected, finished, marks_left); INSERT INTO mirror VALUES ('t', 1, 1, "
                         "1, 0); CREATE TABLE line (tbl, key, raw, digest, PRIMARY KEY (tbl, key))",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ChangeState s(file_);
  s.bindRemote("server/db");
  EXPECT_FALSE(s.table("t").has_value());
  s.begin("t", false, true);
  EXPECT_EQ(offer(s, "K1", 1), Offer::SendNew);
}

}  // namespace
}  // namespace agent
