// The change-detection state store on its own: what a run sends, what it
// keeps, what a run that never commits leaves, and how a store of the older
// per-line layout is met.
#include "upload/change_state.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
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
// texts; dropping them makes them new again.
TEST_F(ChangeStateTest, SendsNewAndChangedLinesOnceAndNamesVanishedKeys) {
  EXPECT_EQ(keyHash("AB\x1F"
                    "x  "),
            keyHash("ab\x1F"
                    "x"));
  EXPECT_NE(keyHash("ab\x1F"
                    "x"),
            keyHash("abx"));
  EXPECT_NE(keyHash("ab\x1F"
                    "x"),
            keyHash("a\x1F"
                    "bx"));

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
}

// Enough lines that a lookup goes through the directory of key prefixes:
// every stored key is found whatever the order it comes in, and exactly the
// changed, new and vanished ones are told apart.
TEST_F(ChangeStateTest, FindsEveryKeyOfALargeTable) {
  constexpr int kKeys = 20000;
  auto key = [](int i) { return "S" + std::to_string(i); };
  ChangeState s(file_);
  s.bindRemote("server/db");
  s.begin("t", true, true);
  for (int i = 0; i < kKeys; ++i) offer(s, key(i), static_cast<std::uint64_t>(i));
  commit(s);

  s.begin("t", false, true);
  int unchanged = 0, changed = 0, expectChanged = 0;
  for (int i = kKeys - 1; i >= 100; --i) {
    bool edit = i % 97 == 0;
    expectChanged += edit;
    Offer o = offer(s, key(i), static_cast<std::uint64_t>(edit ? i + 1 : i));
    unchanged += o == Offer::Unchanged;
    changed += o == Offer::SendChanged;
  }
  EXPECT_EQ(changed, expectChanged);
  EXPECT_EQ(unchanged + changed, kKeys - 100);
  EXPECT_EQ(offer(s, "new", 1), Offer::SendNew);
  std::vector<std::string> vanished = s.vanishedKeys("t");
  std::sort(vanished.begin(), vanished.end());
  std::vector<std::string> expected;
  for (int i = 0; i < 100; ++i) expected.push_back(key(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(vanished, expected);
}

// A run that is never committed (a failed or killed cycle) leaves the
// state as it was, for this store and for the next process; another remote
// database empties it.
TEST_F(ChangeStateTest, AnUncommittedRunChangesNothingAndAnotherRemoteEmptiesTheStore) {
  {
    ChangeState s(file_);
    s.bindRemote("server/db");
    s.begin("t", true, false);
    offer(s, "K1", 1);
    commit(s);
    s.markStarted("t");
    s.begin("t", false, false);
    EXPECT_EQ(offer(s, "K1", 2), Offer::SendChanged);
  }
  ChangeState s(file_);
  s.bindRemote("server/db");
  ASSERT_TRUE(s.table("t").has_value());
  EXPECT_FALSE(s.table("t")->finished);
  s.begin("t", false, false);
  EXPECT_EQ(offer(s, "K1", 2), Offer::SendChanged);
  s.bindRemote("server/other");
  EXPECT_FALSE(s.table("t").has_value());
}

// A store written in the older layout (one SQLite row per line) is emptied
// on opening: every table is then merged in full once.
TEST_F(ChangeStateTest, AStoreOfTheOlderLayoutIsEmptied) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.string().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE remote (identity TEXT NOT NULL);"
                         "INSERT INTO remote VALUES ('server/db');"
                         "CREATE TABLE mirror (tbl TEXT PRIMARY KEY, last_full INTEGER NOT NULL, "
                         "expected INTEGER NOT NULL, finished INTEGER NOT NULL, marks_left "
                         "INTEGER NOT NULL);"
                         "INSERT INTO mirror VALUES ('t', 1, 1, 1, 0);"
                         "CREATE TABLE line (tbl TEXT NOT NULL, key TEXT NOT NULL, raw TEXT NOT "
                         "NULL, digest INTEGER NOT NULL, PRIMARY KEY (tbl, key)) WITHOUT ROWID;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  ChangeState s(file_);
  s.bindRemote("server/db");
  EXPECT_FALSE(s.table("t").has_value());
  s.begin("t", false, false);
  EXPECT_EQ(offer(s, "K1", 1), Offer::SendNew);
}

}  // namespace
}  // namespace agent
