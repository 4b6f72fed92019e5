// File names, the program folder, the environment and stop requests, on
// Linux and, in the Windows build, under Wine.
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <cstdlib>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "app/core/stop_requests.h"
#include "base/code_page.h"
#include "base/environment.h"
#include "base/file_names.h"
#include "config/program_folder.h"
#include "config/side_file_lock.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::readFile;
using testing::TempDir;

// A folder name no 8-bit code page holds whole.
constexpr const char* kWideFolder = "Prüfung Ωμέγα 試験";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

#ifdef _WIN32
// Wine's own mapping back from a Unix name, to check the one handed out.
std::filesystem::path wineDosName(const std::string& unixName) {
  using DosName = wchar_t*(CDECL*)(const char*);
  auto dosName = reinterpret_cast<DosName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (dosName == nullptr) return {};
  wchar_t* name = dosName(unixName.c_str());
  if (name == nullptr) return {};
  std::filesystem::path result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool underWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

// UTF-8 names reach the file system unchanged; the remote driver is handed
// an absolute name of the same file.
TEST(FileNamesTest, Utf8NamesReachTheFileSystemAndTheRemoteDriverGetsTheSameFile) {
  TempDir dir("names");
  const std::filesystem::path folder = dir / pathFromText(kWideFolder) / "CSV";
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  const std::filesystem::path file = folder / pathFromText("UPMASCAT.csv");
  {
    std::unique_ptr<std::FILE, FileCloser> out(openFile(file, "wb"));
    ASSERT_NE(out, nullptr);
    ASSERT_GE(std::fputs("P001|x\r\n", out.get()), 0);
  }
  // Found again by listing the folder, under the same UTF-8 name.
  bool listed = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    listed |= pathText(entry.path().filename()) == kWideFolder;
  }
  EXPECT_TRUE(listed);
  EXPECT_EQ(readFile(file), "P001|x\r\n");

  // A name with ".." parts and a relative start, as a program folder given
  // on the command line may be.
  std::filesystem::current_path(dir.path());
  const std::filesystem::path relative =
      pathFromText(kWideFolder) / "CSV" / ".." / "CSV" / "UPMASCAT.csv";

  const std::string name = remoteDriverFileName(relative);
  EXPECT_EQ(name.find(".."), std::string::npos) << name;
#ifdef _WIN32
  if (underWine()) {
    // The Linux driver opens exactly this name: a Unix one.
    ASSERT_EQ(name.front(), '/') << name;
    EXPECT_TRUE(std::filesystem::equivalent(wineDosName(name), file)) << name;
  } else {
    // A Windows name with backslashes only (the load statement doubles them).
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_TRUE(std::filesystem::equivalent(pathFromText(name), file)) << name;
  }
#else
  ASSERT_EQ(name.front(), '/') << name;
  EXPECT_TRUE(std::filesystem::equivalent(pathFromText(name), file)) << name;
#endif
  std::filesystem::current_path(std::filesystem::temp_directory_path());
}

// The lock beside an embedded database excludes another handle of the
// same process too (two connections of one program), and a waiter that
// gives up can read who holds it while it is held.
TEST(SideFileLockTest, AnotherHandleWaitsReadsTheHolderAndGetsItOnceFreed) {
  TempDir dir("side-lock");
  const std::filesystem::path file = dir / "office.sqlite.agent-lock";
  std::optional<SideFileLock> first(std::in_place, file, "program folder A",
                                    std::chrono::milliseconds(0));
  ASSERT_EQ(first->outcome(), SideFileLock::Outcome::Held) << first->detail();
  SideFileLock second(file, "program folder B", std::chrono::milliseconds(200));
  EXPECT_EQ(second.outcome(), SideFileLock::Outcome::HeldByOther);
  EXPECT_EQ(second.detail(), "program folder A");
  EXPECT_GE(second.waited().count(), 200);
  first.reset();
  SideFileLock third(file, "program folder C", std::chrono::milliseconds(0));
  EXPECT_EQ(third.outcome(), SideFileLock::Outcome::Held) << third.detail();
}

// Sets (or, for nullptr, removes) an environment variable of this process.
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  const std::u16string wideName = utf8ToUtf16(name), wide = utf8ToUtf16(value ? value : "");
  SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wideName.c_str()),
                          value ? reinterpret_cast<const wchar_t*>(wide.c_str()) : nullptr);
#else
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// --home first, then UPLOAD_AGENT_HOME (read as UTF-8; set but empty
// counts as not set), then the running executable's own folder, whatever
// argv[0] says.
TEST(ProgramFolderTest, HomeOptionThenEnvironmentThenTheExecutablesFolder) {
  const std::filesystem::path self = executablePath("no-such-program");
  EXPECT_TRUE(self.is_absolute());
  EXPECT_TRUE(std::filesystem::is_regular_file(self)) << pathText(self);

  TempDir dir("home");
  std::filesystem::current_path(dir.path());
  const std::string fromEnvironment = pathText(dir / pathFromText(kWideFolder) / "env");
  setVariable("UPLOAD_AGENT_HOME", fromEnvironment.c_str());
  const std::filesystem::path home = programFolder(kWideFolder, "no-such-program");
  EXPECT_TRUE(home.is_absolute());
  EXPECT_EQ(pathText(home.filename()), kWideFolder);
  EXPECT_EQ(home.parent_path(), std::filesystem::current_path());
  EXPECT_EQ(environmentVariable("UPLOAD_AGENT_HOME"), fromEnvironment);
  EXPECT_EQ(pathText(programFolder("", "/elsewhere/upload-agent")), fromEnvironment);
  setVariable("UPLOAD_AGENT_HOME", "");
  EXPECT_EQ(environmentVariable("UPLOAD_AGENT_HOME"), std::string()) << "empty is not unset";
  EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), self.parent_path());
  setVariable("UPLOAD_AGENT_HOME", nullptr);
  EXPECT_EQ(environmentVariable("UPLOAD_AGENT_HOME"), std::nullopt);
  EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), self.parent_path());
  std::filesystem::current_path(std::filesystem::temp_directory_path());
}

#ifndef _WIN32
// Ctrl+C raises the stop the schedule waits for instead of ending the
// process in the middle of a cycle; the wait ends without a poll.
TEST(StopRequestsTest, InterruptAsksTheScheduleToStop) {
  StopRequests stop;
  EXPECT_FALSE(stop.requested().raised());
  std::raise(SIGINT);
  EXPECT_TRUE(stop.requested().waitFor(std::chrono::seconds(10)));
}
#endif

}  // namespace
}  // namespace agent
