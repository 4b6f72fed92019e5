// The Win32 window SERVICEFILE on a real desktop (windows-test.sh runs this
// suite under Wine on a virtual display), driven by the messages the shell
// and the user would send it.
#include "app/win32/service_window.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/win32/message_box_sink.h"
#include "app/win32/popup_menu.h"
#include "app/win32/tray_icon.h"
#include "app/win32/wide_text.h"
#include "tests/support/doubles.h"

namespace agent {
namespace {

using testing::RecordedMessages;
using testing::ScriptedCalls;
using testing::SetClock;

class Win32ServiceWindowTest : public ::testing::Test {
 protected:
  // Lets the window's queued messages run until done() or 10 s have passed.
  static bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
        PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    return done();
  }
  static std::string labelText(HWND window) {
    wchar_t text[256] = {};
    GetDlgItemTextW(window, Win32ServiceWindow::kStatusLabelId, text, 256);
    return fromWide(text);
  }
  bool journalHas(const std::string& part) const {
    return std::ranges::any_of(journal.recentLines(), [&](const std::string& line) {
      return line.find(part) != std::string::npos;
    });
  }

  SetClock clock;
  ScriptedCalls calls;
  RecordedMessages messages;
  Journal journal;
  RegionalSettings regional;
};

// The icon's dock, a click restoring the window and a timed cycle's status
// line are windows-test.sh's tray test on the same desktop; here the rest.
TEST_F(Win32ServiceWindowTest, LivesInTheTrayItsBoxAndMenuActAndItClosesAfterItsCycle) {
  Win32ServiceWindow window(calls, messages, journal, clock, regional, {});
  window.load();
  HWND hwnd = window.handle();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(FindWindowW(L"SERVICEFILE", L"Services . . ."), hwnd);

  // The first activation: minimised, hidden, the agent's activation once.
  // It runs as a cycle, and a click on the icon during a cycle is ignored:
  // the clicks below wait for its end.
  ASSERT_TRUE(pumpUntil([&] { return calls.activations == 1; }));
  ASSERT_TRUE(pumpUntil([&] { return !window.model().inCycle(); }));
  pumpUntil([&] { return !IsWindowVisible(hwnd); });
  EXPECT_FALSE(IsWindowVisible(hwnd));

  // A move over the icon: ignored; a click restores, no new activation.
  SendMessageW(hwnd, kTrayCallbackMessage, 1, WM_MOUSEMOVE);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  SendMessageW(hwnd, kTrayCallbackMessage, 1, WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_FALSE(IsIconic(hwnd));
  EXPECT_EQ(calls.activations, 1) << "restoring from the tray is no activation";

  // The Pause box, clicked: the next due tick runs no cycle; clicked again,
  // the one after runs.
  SendDlgItemMessageW(hwnd, Win32ServiceWindow::kPauseBoxId, BM_CLICK, 0, 0);
  EXPECT_TRUE(window.model().paused());
  clock.advance(50 * 60 + 1);
  SendMessageW(hwnd, WM_TIMER, Win32ServiceWindow::kTickTimerId, 0);
  EXPECT_EQ(calls.cycles, 0);
  EXPECT_EQ(labelText(hwnd), "Idle");
  SendDlgItemMessageW(hwnd, Win32ServiceWindow::kPauseBoxId, BM_CLICK, 0, 0);
  EXPECT_FALSE(window.model().paused());

  // The menu's "&Pause" ticks the box; "&Restore" shows the hidden window.
  SendMessageW(hwnd, WM_COMMAND, kPauseItem, 0);
  EXPECT_TRUE(window.model().paused());
  EXPECT_EQ(SendDlgItemMessageW(hwnd, Win32ServiceWindow::kPauseBoxId, BM_GETCHECK, 0, 0),
            BST_CHECKED);
  ShowWindow(hwnd, SW_HIDE);
  SendMessageW(hwnd, WM_COMMAND, kRestoreItem, 0);
  EXPECT_TRUE(IsWindowVisible(hwnd));

  // Explorer restarted: the icon is added again.
  SendMessageW(hwnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(journalHas("tray icon added again"));

  // WM_CLOSE arrives while a cycle runs on its worker; the window's thread
  // handles it and goes on serving the window until the cycle's end.
  SendDlgItemMessageW(hwnd, Win32ServiceWindow::kPauseBoxId, BM_CLICK, 0, 0);
  ASSERT_FALSE(window.model().paused());
  std::atomic<bool> stillThereAfterClose{false};
  calls.onCycle = [&] {
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    stillThereAfterClose = IsWindow(hwnd);
  };
  clock.advance(50 * 60 + 1);
  SendMessageW(hwnd, WM_TIMER, Win32ServiceWindow::kTickTimerId, 0);
  ASSERT_TRUE(pumpUntil([&] { return window.hasEnded(); }));
  EXPECT_TRUE(stillThereAfterClose) << "the window closed in the middle of the cycle";
  EXPECT_EQ(calls.cycles, 1);
  EXPECT_FALSE(IsWindow(hwnd));
  // The message loop ends with the program's status.
  EXPECT_EQ(window.runMessageLoop(), 0);
}

// A failed cycle's box that nobody answers: when the next cycle falls due
// while it is open, the window's timer closes it (the journal says so) and
// the schedule goes on.
TEST_F(Win32ServiceWindowTest, ABoxLeftUnansweredClosesWhenTheNextCycleFallsDue) {
  MessageBoxSink boxes;
  Win32ServiceWindow window(calls, boxes, journal, clock, regional, {});
  window.load();
  HWND hwnd = window.handle();
  ASSERT_TRUE(pumpUntil([&] { return calls.activations == 1 && !window.model().inCycle(); }));

  std::atomic<int> failures{0};  // the first timed cycle fails, the next does not
  calls.onCycle = [&] {
    if (failures++ == 0) throw std::runtime_error("network down");
  };
  bool boxSeen = false;
  // On the window's thread, inside the box's own message loop.
  window.everySecond([&] {
    if (boxSeen || FindWindowW(L"#32770", L"upload-agent") == nullptr) return;
    boxSeen = true;
    clock.advance(50 * 60 + 1);
  });
  // Should the box never close, this answers it so the test can fail.
  std::atomic<bool> finished{false}, rescued{false};
  std::thread rescue([&] {
    for (int i = 0; i < 300 && !finished; ++i) Sleep(100);
    if (HWND box = FindWindowW(L"#32770", L"upload-agent"); box != nullptr && !finished) {
      rescued = true;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  });
  clock.advance(50 * 60 + 1);
  SendMessageW(hwnd, WM_TIMER, Win32ServiceWindow::kTickTimerId, 0);
  // The box closes, the failed cycle ends and the next one runs.
  const bool wentOn = pumpUntil([&] { return calls.cycles == 2 && !window.model().inCycle(); });
  finished = true;
  rescue.join();
  EXPECT_TRUE(boxSeen) << "the failed cycle opened no box";
  EXPECT_FALSE(rescued) << "the box held the schedule until the test answered it";
  EXPECT_TRUE(wentOn) << "the schedule did not go on";
  EXPECT_TRUE(journalHas("left unanswered"));
}

}  // namespace
}  // namespace agent
