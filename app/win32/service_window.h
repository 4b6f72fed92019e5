// The window SERVICEFILE drawn with the Win32 API: the Pause check box,
// the status label, the 500 ms timer, the tray icon and its pop-up menu. A
// thin view: every event goes to the WindowModel, which decides what
// happens and answers through the WindowView calls below.
#ifndef AGENT_APP_WIN32_SERVICE_WINDOW_H_
#define AGENT_APP_WIN32_SERVICE_WINDOW_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/agent_calls.h"
#include "app/core/window_model.h"
#include "app/win32/handles.h"
#include "app/win32/popup_menu.h"
#include "app/win32/tray_icon.h"
#include "base/regional.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

class Win32ServiceWindow : private WindowView {
 public:
  using Options = WindowModel::Options;
  static constexpr wchar_t kClassName[] = L"SERVICEFILE";
  // The 500 ms timer and the controls, as WM_TIMER and GetDlgItem know them.
  static constexpr UINT_PTR kTickTimerId = 1;
  static constexpr int kPauseBoxId = 1001;
  static constexpr int kStatusLabelId = 1002;

  // Every reference must outlive the window. messages shows the window's
  // own message boxes. Creates the (hidden) window; throws ProgramEnd when
  // it cannot. The schedule starts with load(), not here.
  Win32ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal, const Clock& clock,
                     const RegionalSettings& regional, Options options);
  ~Win32ServiceWindow() override;
  Win32ServiceWindow(const Win32ServiceWindow&) = delete;
  Win32ServiceWindow& operator=(const Win32ServiceWindow&) = delete;

  // The boxes the cycle asks for open on this window's thread (see
  // WindowModel::routeCycleMessages). Call before load().
  void routeCycleMessages(CycleMessages& messages) { model_.routeCycleMessages(messages); }
  // Start-up (see WindowModel::load).
  void load() { model_.load(); }
  // Runs every second from the message loop (between events, never inside
  // a cycle unless the cycle lets events run).
  void everySecond(std::function<void()> task);

  // Takes messages until the program ends; returns its exit status.
  int runMessageLoop();

  const WindowModel& model() const { return model_; }
  bool hasEnded() const { return model_.hasEnded(); }
  int exitStatus() const { return model_.exitStatus(); }
  HWND handle() const { return window_.get(); }

 private:
  // WindowView
  void startTickTimer(int intervalMs) override;
  void stopTickTimer() override;
  void showWindow() override;
  void hideWindow() override;
  void minimiseWindow() override;
  bool isMinimised() const override;
  void bringToForeground() override;
  void closeWindow() override;
  void setStatusText(const std::string& text) override;
  void setPauseTicked(bool ticked) override;
  void addTrayIcon(const std::string& tip) override;
  void removeTrayIcon() override;
  void popupMenu() override;
  void closeMenu() override;
  void messageBox(const std::string& text, MessageIcon icon) override;
  bool closeMessageBox() override;
  void processPendingEvents() override;
  void postToUi(std::function<void()> task) override;
  void runOnUiAndWait(std::function<void()> task) override;
  void onProgramEnd(int status) override;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void command(UINT id, UINT notification);

  MessageSink& messages_;
  Journal& journal_;
  WindowModel model_;
  const UINT taskbarCreated_;  // sent to every top-level window when the shell restarts

  OwnedIcon bigIcon_;
  OwnedIcon smallIcon_;
  std::unique_ptr<RegisteredClass> class_;
  OwnedWindow window_;
  // The window's handle as other threads use it: set once, never changed
  // (a message to it fails once the window is gone).
  HWND taskTarget_ = nullptr;
  HWND pauseBox_ = nullptr;  // child windows: destroyed with window_
  HWND statusLabel_ = nullptr;
  std::unique_ptr<TrayIcon> trayIcon_;
  PopupMenu menu_;
  std::function<void()> everySecond_;
  std::optional<int> endStatus_;
};

}  // namespace agent

#endif  // AGENT_APP_WIN32_SERVICE_WINDOW_H_
