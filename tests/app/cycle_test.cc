// The upload cycle of a whole program folder, its local database on the
// embedded engine and its portal on the test MariaDB server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>

#include "app/core/agent.h"
#include "base/errors.h"
#include "config/local_settings.h"
#include "config/remote_accounts.h"
#include "cycle/conflict_retry.h"
#include "cycle/early_part.h"
#include "cycle/local_ahead.h"
#include "tests/support/agent_folder_test.h"
#include "tests/support/doubles.h"
#include "tests/support/local_database.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

using testing::LocalTestDatabase;

class CycleTest : public testing::AgentFolderTest {
 protected:
  // Three colleges in a table of every column the college stage reads.
  CycleTest() : AgentFolderTest("cycle", "P001") {
    local_.execute(
        "create table college (fcollcode varchar(10), fcollname varchar(60), fadd1 varchar(60), "
        "fadd2 varchar(60), fadd3 varchar(60), fadd4 varchar(60), fattsession varchar(10))");
    local_.execute(
        "insert into college (fcollcode, fcollname) values ('C01', 'College'), "
        "('C02', 'College'), ('C03', 'College')");
  }

  Agent& agent() {
    if (!agent_) agent_ = std::make_unique<Agent>(home_.path(), messages_, journal_, clock_);
    return *agent_;
  }
  std::string remoteStamps() {
    return remote_.scalar(
        "select concat(ifnull(flastupdstarttime, 'NULL'), ' / ', "
        "ifnull(flastupdendtime, 'NULL')) from control");
  }
  std::string journalText() { return ::testing::PrintToString(journal_.recentLines()); }

  testing::SetClock clock_;
  std::unique_ptr<Agent> agent_;
};

// Stages that do what a real stage does at the point that matters.
std::size_t readsMissingBalance(CycleContext& ctx) {
  ctx.local.query("select * from #TMPUPBAL");
  return 0;
}
std::size_t failsGenerically(CycleContext&) {
  throw AgentError(error_number::kGenericFailure, "[ma-3.1.15] Lost connection to server");
}
std::size_t readsLocalControl(CycleContext& ctx) {
  ctx.local.query("select * from control");
  return 0;
}
// A remote statement that runs far longer than any test may wait.
std::size_t waitsRemotely(CycleContext& ctx) {
  ctx.remote.execute("select sleep(60)");
  return 0;
}

// What a window shows while the cycle runs (the stage and its rows so far).
const CycleProgress* watchedProgress = nullptr;
CycleProgress::Snapshot seenInStage;
std::size_t looksAtProgress(CycleContext&) {
  seenInStage = watchedProgress->snapshot();
  return 0;
}
// The start stamp as the portal holds it while the cycle runs.
std::size_t checksTheStartStamp(CycleContext& ctx) {
  auto rs = ctx.remote.query("select flastupdstarttime, flastupdendtime from control");
  EXPECT_EQ(rs->field("flastupdstarttime").textValue(), "05/03/2024 02:07:09 PM");
  EXPECT_TRUE(rs->field("flastupdendtime").isNull());
  looksAtProgress(ctx);
  return 1;
}

// One cycle stamps its start and end, counts a value the portal clips in its
// summary and keeps a progress record; a character set the export cannot
// write ends the next cycle with a line naming it. (The files' character
// set and the clipped value's own line are the upload tests'.)
TEST_F(CycleTest, StampsFollowsThePortalsCharacterSetAndRecordsItsProgress) {
  agent().ensureCsvFolder();
  local_.execute("update college set fcollname = 'A Longer College' where fcollcode = 'C02'");
  // A second activation reads the same settings file and logs in again: the
  // password is unscrambled afresh, not shifted a second time.
  agent().connectLocal();
  EXPECT_TRUE(agent().connectLocal());
  watchedProgress = &agent().progress();
  clock_.set({2024, 3, 5, 14, 7, 9});
  remote_.execute("alter table college modify fcollname varchar(12)");
  const std::vector<Stage> stages = {{"check start stamp", checksTheStartStamp},
                                     {"college", uploadColleges}};
  EXPECT_TRUE(agent().runCycle(stages)) << journalText();
  EXPECT_EQ(remoteStamps(), "05/03/2024 02:07:09 PM / 05/03/2024 02:07:09 PM");
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(journalLinesWith("stage check start stamp: 1 rows"), 1u);
  EXPECT_TRUE(seenInStage.running);
  EXPECT_EQ(seenInStage.stage, "check start stamp");
  CycleProgress::Snapshot after = agent().progress().snapshot();
  EXPECT_FALSE(after.running) << "the cycle's end is marked";
  EXPECT_EQ(progressText(after), "Uploading college - 3 rows");

  EXPECT_EQ(journalLinesWith(", 1 value changed by the portal"), 1u) << journalText();

  // A new cycle starts its record afresh.
  EXPECT_TRUE(agent().runCycle(std::vector<Stage>{{"look", looksAtProgress}}));
  EXPECT_EQ(seenInStage.rows, 0u);

  remote_.execute("alter database `" + remote_.name() + "` character set cp1251");
  EXPECT_FALSE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("the portal's server reads load files in the character set "
                             "\"cp1251\""),
            1u)
      << journalText();
}

// The ways a cycle ends early without its end stamp, the program going on: a
// leftover object is dropped and the statement run again once; a driver
// injected through the account's server is never loaded.
TEST_F(CycleTest, EveryEarlyEndEndsTheCycleWithoutItsEndStampAndTheNextRuns) {
  agent().connectLocal();
  local_.execute("create view FEEPG as select * from college");
  const std::string accounts = testing::readFile(home_.path() / kRemoteAccountsFileName);
  const std::string library = (home_.path() / "platform.ini").string();
  const std::string closed = "Operation is not allowed when the object is closed. -2146824584";
  struct Case {
    Stage stage;
    std::vector<std::string> messages;  // a part of each message shown
    std::string journalLine;
    std::string accounts = "";  // the remote account file, when not the sound one
  } cases[] = {
      {{"receipts", failsGenerically},
       {},
       "cycle ended silently in stage receipts: [ma-3.1.15] Lost connection"},
      {{"receipts",
        [](CycleContext& ctx) -> std::size_t {
          ctx.messages.show("Duplicate Rec. No. found", MessageIcon::Exclamation);
          throw CycleAbort("duplicate receipt number R7");
        }},
       {"Duplicate Rec. No. found"},
       "cycle ended in stage receipts: duplicate receipt number R7"},
      {{"masters",
        [](CycleContext&) -> std::size_t { throw std::length_error("basic_string::_M_create"); }},
       {"basic_string::_M_create 51"},
       "cycle ended in stage masters: unexpected error: basic_string::_M_create"},
      {{"balances", readsMissingBalance},
       {"Cannot drop the table '#TMPUPBAL', because it does not exist or you do not have "
        "permission. -21472"},
       "cycle ended in stage balances, local statement \"select * from #TMPUPBAL\""},
      {{"views",
        [](CycleContext& ctx) -> std::size_t {
          ctx.local.execute("CREATE VIEW FEEPG AS select * from FEEPG");
          return 0;
        }},
       {"FEEPG"},
       "dropped and made again: FEEPG"},
      {{"none", readsLocalControl},
       {"", closed},
       "remote connection to 127.0.0.1;DRIVER=",
       "[P001]\nuser = u\npassword = p\nserver = 127.0.0.1;DRIVER=" + library + "\ndatabase = d\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.journalLine);
    messages_.texts.clear();
    if (!c.accounts.empty()) home_.write(kRemoteAccountsFileName, c.accounts);
    EXPECT_FALSE(agent().runCycle(std::vector<Stage>{c.stage}));
    ASSERT_EQ(messages_.texts.size(), c.messages.size());
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_FALSE(messages_.texts[i].empty());
      EXPECT_NE(messages_.texts[i].find(c.messages[i]), std::string::npos) << messages_.texts[i];
    }
    EXPECT_EQ(journalLinesWith(c.journalLine), 1u) << journalText();
    EXPECT_NE(remoteStamps().find("/ NULL"), std::string::npos);
    home_.write(kRemoteAccountsFileName, accounts);
  }
  EXPECT_EQ(journalLinesWith("FEEPG (2 times)"), 0u) << "no second drop";
  EXPECT_EQ(journalText().find("Can't open lib"), std::string::npos) << journalText();

  // Every cycle ends with one summary line: the rows of each stage that
  // ran, the cycle's own warnings (not those before it) and errors; an
  // early end counts only the stages that ended.
  messages_.texts.clear();
  const auto three = [](CycleContext&) -> std::size_t { return 3; };
  std::vector<Stage> stages = {
      {"masters", three},
      {"receipt download", three, StageGate::Download},
      {"rechead, recdetl and recmode", [](CycleContext& ctx) -> std::size_t {
         ctx.journal.warning("a row left out");
         return 2;
       }}};
  ASSERT_TRUE(agent().runCycle(stages));
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(journalLinesWith("INFO cycle summary: stamped, 5 rows sent in "), 1u) << journalText();
  EXPECT_EQ(journalLinesWith(" s (masters 3; rechead, recdetl and recmode 2), 1 warning, 0 errors"),
            1u);
  stages = {{"masters", three}, {"studfee", [](CycleContext& ctx) -> std::size_t {
                                   ctx.remote.execute("select * from no_such_table");
                                   return 5;
                                 }}};
  ASSERT_FALSE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("INFO cycle summary: ended early, 3 rows sent in "), 1u);
  EXPECT_EQ(journalLinesWith(" s (masters 3), 0 warnings, 1 error"), 1u) << journalText();
}

TEST_F(CycleTest, SettingsFileDecidesWhetherTheProgramCanGoOn) {
  home_.settings("", "x", "y", "z");
  try {
    agent().connectLocal();
    ADD_FAILURE() << "the program went on without a database type";
  } catch (const ProgramEnd& e) {
    EXPECT_EQ(e.message(), "Database type not specified!!");
  }
  // A type in the wrong case opens nothing and says nothing: the code stays
  // empty (a cycle then fails to connect to the portal, as without an account).
  home_.settings("sqlsrvr", local_.serverFolder().string(), local_.name(),
                 LocalTestDatabase::kSaPassword);
  agent().connectLocal();
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(agent().univCode(), "");
  // A refused login does not end the program: every cycle reads the
  // settings file again and tries.
  home_.settings("SQLSRVR", local_.serverFolder().string(), local_.name(), "wrong");
  EXPECT_FALSE(agent().connectLocal());
  EXPECT_EQ(journalLinesWith("Login failed for user 'SA'.; the next cycle tries again"), 1u);
  // Settings files saved with a UTF-8 byte-order mark are read as UTF-8 and
  // the journal says so.
  const std::string bom = "\xEF\xBB\xBF";
  home_.write(kSettingsFileName,
              bom + "[APATH]\r\nDBASEPATH=SQLSRVR\r\nSERVERNAME=" + local_.serverFolder().string() +
                  "\r\nPASSWORD=" + scramblePassword(LocalTestDatabase::kSaPassword) +
                  "\r\nDBNAME=" + local_.name() + "\r\n");
  home_.write("remote-accounts.ini", bom + remote_.accountSection("P001"));
  EXPECT_TRUE(agent().runCycle(std::vector<Stage>{{"masters", readsLocalControl}}));
  EXPECT_EQ(agent().univCode(), "P001");
  EXPECT_EQ(journalLinesWith("starts with a UTF-8 byte-order mark"), 2u);
}

// The portal's control row locked by another session, as a cut link's
// left-over session holds it: the start stamp waits [remote]
// lock_wait_timeout, not the read time-out, and the journal names a lock
// wait. The next cycle, the lock gone, stamps its end. Then a stop asked
// for from another thread (as the signal watcher does) while a remote
// statement runs: the statement is cancelled, no later stage or statement
// runs, the journal names the stage, and no later cycle starts.
TEST_F(CycleTest, ALockWaitIsNamedAndAStopEndsTheRunningStatementWithinSeconds) {
  home_.write("platform.ini", testing::readFile(home_.path() / "platform.ini") +
                                  "lock_wait_timeout = 1\nread_timeout = 300\n");
  std::vector<Stage> stages = {{"masters", readsLocalControl}};
  {
    std::unique_ptr<Connection> holder = remote_.connect();
    holder->execute("start transaction");
    holder->execute("select * from control for update");
    EXPECT_FALSE(agent().runCycle(stages));
    holder->execute("rollback");
  }
  EXPECT_EQ(journalLinesWith("a lock wait: another session held a lock"), 1u) << journalText();
  EXPECT_EQ(journalLinesWith("read time-out"), 0u);
  EXPECT_TRUE(agent().runCycle(stages)) << journalText();

  stages = {{"waiting", waitsRemotely}, {"after", readsLocalControl}};
  const auto started = std::chrono::steady_clock::now();
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    agent_->requestStop();
  });
  EXPECT_FALSE(agent().runCycle(stages));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  stopper.join();
  EXPECT_LT(took.count(), 5.0);
  std::printf("[ figure ] stop 1 s into a 60 s statement: cycle ended after %.2f s\n",
              took.count());
  EXPECT_EQ(journalLinesWith("cycle stopped on request in stage waiting"), 1u);
  EXPECT_EQ(journalLinesWith("stage after"), 0u);
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_NE(remoteStamps().find("/ NULL"), std::string::npos);
  EXPECT_FALSE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("cycle start"), 3u) << "a cycle started after the stop";
}

// A real deadlock on the portal (1213, the refusal a cluster node gives a
// write that conflicts with another node's): the function below holds rows
// 2 to 50 of pair in an open transaction, then, once the agent's update
// holds row 1 (a NOWAIT read of it refused) and waits for row 2, asks for
// row 1 and commits, so the server rolls the agent's update back whole.
constexpr const char* kConflictedUpdate = "update pair set v = v + 10";
std::size_t updatesRetried(CycleContext& ctx) {
  runRetryingRefusals(ctx, "pair", [&] { ctx.remote.execute(kConflictedUpdate); });
  return 0;
}
std::size_t updatesOnce(CycleContext& ctx) {
  ctx.remote.execute(kConflictedUpdate);
  return 0;
}

std::thread deadlockWithTheNextUpdate(const testing::RemoteTestDatabase& remote) {
  std::shared_ptr<Connection> holder = remote.connect(), watcher = remote.connect();
  holder->execute("start transaction");
  holder->execute("update pair set v = v + 1 where k >= 2");
  return std::thread([holder, watcher] {
    for (int i = 0; i < 200; ++i) {
      try {
        watcher->execute("select k from pair where k = 1 for update nowait");
      } catch (const AgentError&) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    holder->execute("update pair set v = v + 1 where k = 1");
    holder->execute("commit");
  });
}

// Work that may be sent again is, after the refusal, and counts once; the
// same refusal of other work ends the cycle with a line naming the server
// and the error, without the end stamp.
TEST_F(CycleTest, AConflictRefusalIsRetriedOnlyWhereRunningAgainIsSafe) {
  remote_.execute("create table pair (k int primary key, v int not null)");
  remote_.execute("insert into pair select seq, 0 from seq_1_to_50");
  std::thread deadlock = deadlockWithTheNextUpdate(remote_);
  EXPECT_TRUE(agent().runCycle(std::vector<Stage>{{"retried", updatesRetried}})) << journalText();
  deadlock.join();
  EXPECT_EQ(remote_.scalar("select count(*) from pair where v = 11"), "50") << journalText();
  EXPECT_EQ(journalLinesWith("pair: refused by"), 1u) << journalText();

  remote_.execute("update pair set v = 0");
  deadlock = deadlockWithTheNextUpdate(remote_);
  EXPECT_FALSE(agent().runCycle(std::vector<Stage>{{"once", updatesOnce}}));
  deadlock.join();
  const testing::RemoteServer& server = remote_.server();
  EXPECT_EQ(journalLinesWith("in stage once, remote statement \"update pair set v\" "
                             "in database " +
                             remote_.name() + " on " + server.host + ":" + server.port + ": "),
            1u)
      << journalText();
  EXPECT_EQ(journalLinesWith("server error 1213"), 1u);
  EXPECT_EQ(remote_.scalar("select count(*) from pair where v = 1"), "50");
  EXPECT_EQ(remote_.scalar("select flastupdendtime is null from control"), "1");
}

// Whether done() holds within tries times 5 ms.
bool soon(const std::function<bool()>& done, int tries = 400) {
  for (int i = 0; i < tries && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

// A later stage's local part is done while an earlier stage waits for its
// work ahead, and sent in its own turn; a part that fails is done again in
// that turn. Stage A's work ahead holds on until B's part is done (or
// failed); A waits for it only once B's own work ahead has ended.
std::atomic<bool> g_quickAheadDone{false};
std::atomic<bool> g_releaseSlowAhead{false};
bool g_failEarlyPart = false;
std::vector<std::string> g_stageEvents;

AheadSources slowAhead(Connection& local, const AheadInput&) {
  soon([] { return g_releaseSlowAhead.load(); }, 1000);
  local.execute("create table #SLOW (n int)");
  return {};
}
AheadSources quickAhead(Connection& local, const AheadInput&) {
  local.execute("create table #QUICK (n int)");
  local.execute("insert into #QUICK values (7)");
  g_quickAheadDone = true;
  return {};
}
std::size_t waitsForSlowAhead(CycleContext& ctx) {
  soon([] { return g_quickAheadDone.load(); }, 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::unique_ptr<Connection> ahead;
  localWithWorkDone(ctx, "slow work", slowAhead, {}, ahead);
  g_stageEvents.push_back("A");
  return 0;
}
struct QuickPart : EarlyPart {
  std::string read;
  std::size_t finish() override {
    g_stageEvents.push_back("B sends " + read);
    return 1;
  }
};
std::string quickRead(Connection& c) {
  return c.query("select n from #QUICK", Cursor::Forward)->field(0).textValue();
}
std::unique_ptr<EarlyPart> quickEarly(CycleContext& ctx) {
  g_releaseSlowAhead = true;
  std::unique_ptr<Connection> ahead;
  Connection& local = localWithWorkDone(ctx, "quick work", quickAhead, {}, ahead);
  if (g_failEarlyPart) throw AgentError(error_number::kGenericFailure, "the part broke");
  auto part = std::make_unique<QuickPart>();
  part->read = quickRead(local);
  g_stageEvents.push_back("B's part");
  return part;
}
std::size_t sendsQuickPart(CycleContext& ctx) {
  if (ctx.turn.early != nullptr) return ctx.turn.early->finish();
  std::unique_ptr<Connection> ahead;
  g_stageEvents.push_back("B reads " +
                          quickRead(localWithWorkDone(ctx, "quick work", quickAhead, {}, ahead)));
  return 1;
}

TEST_F(CycleTest, ALaterStagesLocalPartIsDoneWhileAnEarlierOneWaits) {
  agent().connectLocal();
  std::vector<Stage> stages = {
      {"A", waitsForSlowAhead, StageGate::Always, slowAhead},
      {"B", sendsQuickPart, StageGate::Always, quickAhead, false, quickEarly}};
  for (bool fail : {false, true}) {
    g_quickAheadDone = false;
    g_releaseSlowAhead = false;
    g_failEarlyPart = fail;
    g_stageEvents.clear();
    EXPECT_TRUE(agent().runCycle(stages)) << journalText();
    const std::vector<std::string> expected =
        fail ? std::vector<std::string>{"A", "B reads 7"}
             : std::vector<std::string>{"B's part", "A", "B sends 7"};
    EXPECT_EQ(g_stageEvents, expected);
  }
}

// Work ahead starts only before the first stage that runs and writes the
// local database (work started earlier would miss what it writes); a
// writer that does not run for the institution does not count. In a cycle
// that merges its tables in full, work ahead is held until the stage
// before its own waits for the server (here the colleges' merge); in a
// changes-only cycle it starts with the cycle.
std::atomic<bool> g_notedWorkRan{false};
std::vector<std::string> g_heldEvents;
std::vector<bool> g_hadWorkAhead;

AheadSources notesItRan(Connection&, const AheadInput&) {
  g_notedWorkRan = true;
  return {};
}
std::size_t takesNotedWork(CycleContext& ctx) {
  g_hadWorkAhead.push_back(ctx.turn.ahead != nullptr);
  std::unique_ptr<Connection> ahead;
  localWithWorkDone(ctx, "noted work", notesItRan, {}, ahead);
  return 0;
}
std::size_t collegesAfterAWhile(CycleContext& ctx) {
  g_heldEvents.push_back(soon([] { return g_notedWorkRan.load(); }, 200) ? "ran at once" : "held");
  std::size_t rows = uploadColleges(ctx);
  g_heldEvents.push_back(g_notedWorkRan ? "ran by the merge's end" : "still held");
  return rows;
}

TEST_F(CycleTest, WorkAheadStartsBeforeALocalWriterOnlyAndWaitsForTheServersTurn) {
  agent().connectLocal();
  for (StageGate writerGate : {StageGate::Download, StageGate::Always}) {
    std::vector<Stage> stages = {
        {"writer", [](CycleContext&) -> std::size_t { return 0; }, writerGate, nullptr, true},
        {"noted", takesNotedWork, StageGate::Always, notesItRan}};
    ASSERT_TRUE(agent().runCycle(stages)) << journalText();
  }
  EXPECT_EQ(g_hadWorkAhead, (std::vector<bool>{true, false}));

  home_.write("platform.ini",
              testing::readFile(home_.path() / "platform.ini") + "[upload]\nchanges_only = yes\n");
  agent_.reset();
  agent().ensureCsvFolder();
  agent().connectLocal();
  std::vector<Stage> stages = {{"college", collegesAfterAWhile},
                               {"noted", takesNotedWork, StageGate::Always, notesItRan}};
  // The first cycle knows no table: every one is merged in full.
  for (const char* first : {"held", "ran at once"}) {
    g_notedWorkRan = false;
    g_heldEvents.clear();
    ASSERT_TRUE(agent().runCycle(stages)) << journalText();
    EXPECT_EQ(g_heldEvents, (std::vector<std::string>{first, "ran by the merge's end"}));
  }
}

// Work released after other work starts once that work has ended, woken
// by its end alone; work still held when its owner goes is cancelled, and
// the owner does not wait for a release that never comes.
std::atomic<int> g_chainRuns{0};
AheadSources countsItsRun(Connection&, const AheadInput&) {
  ++g_chainRuns;
  return {};
}

TEST_F(CycleTest, HeldWorkAheadRunsAfterTheWorkBeforeItAndEndsWithItsOwner) {
  auto connect = [this] { return local_.connect(); };
  g_chainRuns = 0;
  {
    LocalAhead first(connect, countsItsRun, {}, true);
    LocalAhead second(connect, countsItsRun, {}, true);
    second.releaseAfter(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second.ended()) << "released before the work before it ended";
    first.release();
    EXPECT_TRUE(soon([&] { return second.ended(); }));
    for (LocalAhead* work : {&first, &second}) {
      std::string why;
      AheadSources sources;
      EXPECT_NE(work->take(&why, &sources), nullptr) << why;
    }
    EXPECT_EQ(g_chainRuns, 2);
  }
  {
    LocalAhead never(connect, countsItsRun, {}, true);
    LocalAhead afterIt(connect, countsItsRun, {}, true);
    afterIt.releaseAfter(never);
  }
  EXPECT_EQ(g_chainRuns, 2) << "held work ran although its owner went first";
}

}  // namespace
}  // namespace agent
