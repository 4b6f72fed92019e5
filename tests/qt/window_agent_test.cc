// The window around the real agent of a program folder: the CSV folder at
// start-up (made, or kept when it is there) and the program's end with a message when the folder
// cannot be made or the settings file is missing.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <filesystem>
#include <memory>

#include "app/core/agent.h"
#include "app/qt/service_window.h"
#include "tests/qt/window_fixture.h"
#include "tests/support/doubles.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

namespace fs = std::filesystem;

class WindowWithAgentTest : public ::testing::Test {
 protected:
  // The window around the agent of home, loaded (start-up run).
  ServiceWindow& loadWindow() {
    window = std::make_unique<ServiceWindow>(calls, messages, journal, clock, regional,
                                             ServiceWindow::Options{});
    window->load();
    return *window;
  }

  testing::SetClock clock;
  testing::TempDir home{"tray-home"};
  testing::RecordedMessages messages;
  Journal journal;
  RegionalSettings regional;
  Agent agent{home.path(), messages, journal, clock};
  AgentCallsOf calls{agent};
  std::unique_ptr<ServiceWindow> window;
};

TEST_F(WindowWithAgentTest, StartUpMakesTheCsvFolderAndAMissingSettingsFileEndsTheProgram) {
  fs::create_directories(home / "CSV" / "kept");  // a folder already there is kept
  ServiceWindow& window = loadWindow();
  EXPECT_TRUE(fs::is_directory(home / "CSV" / "kept"));
  EXPECT_FALSE(window.hasEnded());

  ASSERT_TRUE(testing::processEventsUntil([&] { return window.hasEnded(); }));
  EXPECT_EQ(window.exitStatus(), 1);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"DB Path Not Identified"});
  EXPECT_FALSE(window.trayIcon()->isVisible());
}

TEST_F(WindowWithAgentTest, FileNamedCsvEndsTheProgramWithTheErrorsNumberAndDescription) {
  testing::writeFile(home / "CSV", "in the way");
  ServiceWindow& window = loadWindow();
  ASSERT_TRUE(window.hasEnded());
  EXPECT_EQ(window.exitStatus(), 1);
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_NE(messages.texts[0].find("Error "), std::string::npos) << messages.texts[0];
  EXPECT_NE(messages.texts[0].find("CSV"), std::string::npos) << messages.texts[0];
  EXPECT_FALSE(window.trayIcon()->isVisible());

  // No activation follows an end at start-up.
  testing::processEventsUntil([] { return false; });
  EXPECT_EQ(messages.texts.size(), 1u);
}

}  // namespace
}  // namespace agent
