// A full table mirror on the native driver loads the staging table while
// it writes the export file. A fault on either side during that load
// leaves the remote table exactly as it was, the run fails with the error
// of the side that failed first, and the next run merges everything. On a
// MariaDB server of the test's own, which one test kills mid-load.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "base/text.h"
#include "config/platform_config.h"
#include "cycle/cycle_context.h"
#include "cycle/leftover_recovery.h"
#include "db/error.h"
#include "tests/support/doubles.h"
#include "tests/support/local_database.h"
#include "tests/support/private_server.h"
#include "tests/support/recording_connection.h"
#include "tests/support/temp_dir.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"

namespace agent {
namespace {

using namespace std::chrono_literals;

// Large enough that the export file is flushed many times during the load.
constexpr long kRows = 40000;

// The local source, held at its first row until the server runs the
// staging load: the export then fails while the load reads the file, on a
// loaded machine too.
class SourceHeldUntilLoad : public ConnectionWrapper {
 public:
  SourceHeldUntilLoad(Connection& local, std::function<void()> wait)
      : ConnectionWrapper(local), wait_(std::move(wait)) {}
  std::unique_ptr<Recordset> query(const std::string& sql, Cursor cursor) override {
    return std::make_unique<Rows>(ConnectionWrapper::query(sql, cursor), wait_);
  }

 private:
  class Rows : public Recordset {
   public:
    Rows(std::unique_ptr<Recordset> rows, std::function<void()> wait)
        : rows_(std::move(rows)), wait_(std::move(wait)) {}
    bool eof() const override { return rows_->eof(); }
    bool bof() const override { return rows_->bof(); }
    void moveNext() override {
      if (wait_) std::exchange(wait_, nullptr)();
      rows_->moveNext();
    }
    std::size_t fieldCount() const override { return rows_->fieldCount(); }
    const std::string& fieldName(std::size_t i) const override { return rows_->fieldName(i); }
    const Value& field(std::size_t i) const override { return rows_->field(i); }

   private:
    std::unique_ptr<Recordset> rows_;
    std::function<void()> wait_;
  };
  std::function<void()> wait_;
};

class StreamedLoadTest : public ::testing::Test {
 protected:
  StreamedLoadTest() : local_("streamed-local"), home_("streamed-home") {
    std::filesystem::create_directories(home_ / "CSV");
    {
      auto root = testing::openRemote(server_.server().connectionString(""));
      root->execute("create database streamed");
      root->setDefaultDatabase("streamed");
      testing::runMySqlScript(
          *root, testing::readFile(std::string(AGENT_SOURCE_DIR) + "/schema/remote.sql"));
      // Rows the mirror updates (the file's last: a load that stopped
      // early would leave them old), and one it leaves alone.
      root->execute(fmt::format(
          "insert into studsub select 'C1', 'BSC', '1', 'S01', concat('A', lpad(seq, 6, '0')), "
          "'F', '', '1', 'old', 'T' from seq_{}_to_{}",
          kRows - 100, kRows - 1));
      root->execute(
          "insert into studsub values ('C9', 'BSC', '1', 'S01', 'Z', '', '', '', '', 'T')");
    }
    for (long first = 0; first < kRows; first += 1000) {
      std::string sql = "insert into studsub values ";
      for (long i = first; i < first + 1000; ++i) {
        sql += (i > first ? ", " : "") +
               fmt::format("('C1', 'BSC', '1', 'S01', 'A{:06}', 'P', 'MAR2024', 45.5, '7')", i);
      }
      local_.execute(sql);
    }
    connect();
  }

  void connect() {
    remote_ = testing::openRemote(server_.server().connectionString("streamed"));
    recorded_ = std::make_unique<testing::RecordingConnection>(*remote_);
  }

  // One full run of description; "" or the error it threw. The remote
  // connection notes its failed statement in watch_, as in a cycle.
  std::string mirror(const MirrorDescription& description, Connection* source = nullptr) {
    watch_.clearFailure();
    RecoveringConnection remote(*recorded_, local_.connection(), journal_, &watch_, "remote");
    CycleContext ctx{local_.connection(), remote,   home_.path(), config_, "P028",
                     messages_,           journal_, clock_};
    ctx.watch = &watch_;
    try {
      MirrorTable table(ctx, description);
      if (source != nullptr) table.setSource(*source);
      table.run();
    } catch (const AgentError& e) {
      return e.description();
    }
    return "";
  }

  // Waits up to a minute until the server runs the staging load; whether it
  // did.
  bool waitForStagingLoad() {
    auto watch = testing::openRemote(server_.server().connectionString("streamed"));
    const std::string loading =
        "select count(*) from information_schema.processlist where info like "
        "'LOAD DATA%tmpstudsub%'";
    for (auto limit = std::chrono::steady_clock::now() + 60s;
         std::chrono::steady_clock::now() < limit; std::this_thread::sleep_for(10ms)) {
      if (watch->query(loading, Cursor::Static)->field(0).textValue() != "0") return true;
    }
    return false;
  }
  std::string remote(const std::string& sql) {
    auto check = testing::openRemote(server_.server().connectionString("streamed"));
    return check->query(sql, Cursor::Static)->field(0).textValue();
  }
  // The remote table's rows, summed up.
  std::string remoteFingerprint() {
    return remote(
        "select concat(count(*), ' ', sum(crc32(concat_ws('|', fcollcode, fdegree, fexamno, "
        "fsubcode, fadmno, fpass, fpassmth, fmarks, fremarks, fdeleted)))) from studsub");
  }

  const MirrorDescription& studsub() const {
    return findMirrorDescription(resultDescriptions(), "studsub");
  }

  testing::PrivateServer server_;
  testing::LocalTestDatabase local_;
  testing::TempDir home_;
  std::unique_ptr<Connection> remote_;
  std::unique_ptr<testing::RecordingConnection> recorded_;
  PlatformConfig config_;
  testing::RecordedMessages messages_;
  Journal journal_;
  SystemClock clock_;
  StatementWatch watch_;
};

TEST_F(StreamedLoadTest, ExportFailingMidwayLeavesTheRemoteTableAsItWas) {
  // A value of the last row that the source query cannot convert: the
  // local read fails after most of the file went to the staging load.
  const std::string last = fmt::format("'A{:06}'", kRows - 1);
  local_.execute("update studsub set fremarks = 'x' where fadmno = " + last);
  MirrorDescription failing = studsub();
  failing.sourceQuery =
      "select fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, fmarks, "
      "cast(fremarks as int) as fremarks from studsub order by fcollcode, fdegree, fexamno, "
      "fsubcode, fadmno";
  const std::string before = remoteFingerprint();

  SourceHeldUntilLoad held(local_.connection(), [this] { waitForStagingLoad(); });
  std::string failure = mirror(failing, &held);
  EXPECT_NE(failure.find("Conversion failed when converting the varchar value 'x'"),
            std::string::npos)
      << failure;
  EXPECT_TRUE(std::ranges::any_of(recorded_->statements(), [](const std::string& sql) {
    return sql.starts_with("LOAD DATA") && sql.find("tmpstudsub") != std::string::npos;
  }));  // the load ran alongside the export
  // The cycle ended in the export, not in the load that failed with it.
  EXPECT_EQ(watch_.failure().side, "");
  EXPECT_GT(std::filesystem::file_size(home_ / "CSV" / "STUDSUB.csv"), 1u << 20);
  EXPECT_EQ(remoteFingerprint(), before);
  EXPECT_EQ(remote("select count(*) from studsub where fremarks = 'old'"), "100");

  local_.execute("update studsub set fremarks = '7' where fadmno = " + last);
  EXPECT_EQ(mirror(failing), "");
  EXPECT_EQ(remote("select count(*) from studsub"), std::to_string(kRows + 1));
  EXPECT_EQ(remote("select count(*) from studsub where fremarks = '7' and fdeleted = 'T'"), "100");
}

TEST_F(StreamedLoadTest, ServerKilledDuringTheLoadEndsTheRunAndTheNextRunRepairs) {
  std::string failure = "not run";
  std::thread run([&] { failure = mirror(studsub()); });
  // Killed once the staging load is under way on the server.
  bool loading = waitForStagingLoad();
  if (loading) server_.kill();
  auto killed = std::chrono::steady_clock::now();
  run.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
  ASSERT_TRUE(loading) << "the load was not seen running; the run ended with: " << failure;
  // The remote error ("Lost connection to server during query"), not one of
  // the export.
  EXPECT_NE(toUpperAscii(failure).find("SERVER"), std::string::npos) << failure;
  EXPECT_EQ(watch_.failure().side, "remote");
  EXPECT_LT(seconds, 30.0);  // the export ends: nothing waits for the dead server
  std::printf(
      "[ figure ] server killed during the streamed load: the run ended after %.2f s (%s)\n",
      seconds, failure.c_str());

  server_.restart();
  connect();
  EXPECT_EQ(mirror(studsub()), "");
  EXPECT_EQ(remote("select count(*) from studsub"), std::to_string(kRows + 1));
  EXPECT_EQ(remote("select count(*) from studsub where fremarks = '7' and fpass = 'P'"),
            std::to_string(kRows));
}

}  // namespace
}  // namespace agent
