// Files only the agent can read: folders found open to others are narrowed
// (and said), a link planted where a file is written is never followed.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <system_error>

#include "app/core/agent.h"
#include "base/private_file.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"
#include "db/error.h"
#include "tests/support/doubles.h"
#include "tests/support/temp_dir.h"
#include "upload/export_writer.h"

namespace agent {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// The permission bits of what stands at path, a link itself when it is one.
unsigned modeOf(const fs::path& path) {
  return static_cast<unsigned>(fs::symlink_status(path).permissions());
}

TEST(LocalFilesTest, OpenFoldersAreNarrowedAndLinksWhereFilesAreCreatedAreRefused) {
  // Under the usual umask of a desktop session, which leaves new files
  // readable by everyone; the previous one is restored at the end.
  const mode_t savedUmask = ::umask(022);
  TempDir home("files");
  testing::RecordedMessages messages;
  SystemClock clock;
  fs::create_directories(home / "log");
  fs::create_directories(home / "CSV");
  ::chmod((home / "log").c_str(), 0755);
  ::chmod((home / "CSV").c_str(), 0777);
  writeFile(home / "log" / "agent.log", "2024-01-01 00:00:00 INFO an older line\n");
  ::chmod((home / "log" / "agent.log").c_str(), 0644);

  Journal journal(home / "log" / "agent.log");
  Agent agent(home.path(), messages, journal, clock);
  agent.ensureCsvFolder();

  EXPECT_EQ(modeOf(home / "log"), 0700u);
  EXPECT_EQ(modeOf(home / "log" / "agent.log"), 0600u);
  EXPECT_EQ(modeOf(home / "CSV"), 0700u);
  const std::string log = readFile(home / "log" / "agent.log");
  EXPECT_NE(log.find("an older line"), log.npos);  // appended to, not replaced
  EXPECT_NE(log.find("log folder " + (home / "log").string() + " was open to other users"),
            log.npos);
  EXPECT_NE(log.find("CSV folder " + (home / "CSV").string() + " was open to other users"),
            log.npos);

  // An owner-only folder is left as it is, without a line.
  Journal again(home / "log" / "agent.log");
  Agent(home.path(), messages, again, clock).ensureCsvFolder();
  EXPECT_TRUE(again.recentLines().empty());

  // A link planted where an export file or the journal is created is never
  // followed, and the file it leads to (a settings file) is left untouched.
  const fs::path secret = home / "Ostrel.INI";
  writeFile(secret, "[APATH]\r\nPASSWORD=secret\r\n");
  ::chmod(secret.c_str(), 0644);
  const fs::path planted = home / "CSV" / "UPMASCAT.csv";

  // A link planted between the delete and the create: the create refuses it
  // whether it leads to a file or nowhere.
  fs::create_symlink(secret, planted);
  EXPECT_THROW(createPrivateFile(planted), std::system_error);
  fs::remove(planted);
  fs::create_symlink(home / "CSV" / "nothing-here", planted);
  EXPECT_THROW(createPrivateFile(planted), std::system_error);
  EXPECT_FALSE(fs::exists(home / "CSV" / "nothing-here"));
  fs::remove(planted);

  // A link found there before the export: the link goes, the export file
  // is a new file of its own.
  fs::create_symlink(secret, planted);
  ExportFile file(planted, CodePage::Utf8);
  file.writeLine(std::vector<std::string>{"C01", "First"});
  file.close();
  EXPECT_FALSE(fs::is_symlink(planted));
  EXPECT_EQ(readFile(planted), "C01|First\r\n");
  EXPECT_NE(identityAt(planted), identityAt(secret));
  EXPECT_EQ(file.identity(), identityAt(planted));

  fs::remove(home / "log" / "agent.log");
  fs::create_symlink(secret, home / "log" / "agent.log");
  try {
    Journal journal(home / "log" / "agent.log");
    ADD_FAILURE() << "the journal opened through a link";
  } catch (const AgentError& e) {
    EXPECT_NE(e.description().find("Cannot open the log"), std::string::npos);
  }
  EXPECT_EQ(readFile(secret), "[APATH]\r\nPASSWORD=secret\r\n");
  EXPECT_EQ(modeOf(secret), 0644u);
  ::umask(savedUmask);
}

}  // namespace
}  // namespace agent
