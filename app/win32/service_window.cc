// The Win32 window: the class, the controls, the tray icon and the menu,
// each message handed to the window model.
#include "app/win32/service_window.h"

#include <cwchar>
#include <utility>

#include "app/win32/resource_ids.h"
#include "app/win32/ui_tasks.h"
#include "app/win32/wide_text.h"
#include "base/errors.h"

namespace agent {

namespace {

constexpr UINT_PTR kTickTimer = Win32ServiceWindow::kTickTimerId;
constexpr UINT_PTR kSecondTimer = 2;
constexpr int kClientWidth = 300;
constexpr int kClientHeight = 100;

// The icon resource at the given size; the system's application icon where
// the program carries none (the unit tests).
OwnedIcon loadAgentIcon(HINSTANCE instance, int size) {
  auto icon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(AGENT_ICON_RESOURCE), IMAGE_ICON, size, size, 0));
  if (icon == nullptr) icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
  return OwnedIcon(icon);
}

}  // namespace

Win32ServiceWindow::Win32ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal,
                                       const Clock& clock, const RegionalSettings& regional,
                                       Options options)
    : messages_(messages),
      journal_(journal),
      model_(*this, agent, journal, clock, regional, options),
      taskbarCreated_(RegisterWindowMessageW(L"TaskbarCreated")) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  bigIcon_ = loadAgentIcon(instance, GetSystemMetrics(SM_CXICON));
  smallIcon_ = loadAgentIcon(instance, GetSystemMetrics(SM_CXSMICON));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Win32ServiceWindow::procedure;
  wc.hInstance = instance;
  wc.hIcon = bigIcon_.get();
  wc.hIconSm = smallIcon_.get();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  class_ = std::make_unique<RegisteredClass>(wc);
  if (!class_->registered() && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw ProgramEnd("cannot register the window class SERVICEFILE (error " +
                     std::to_string(GetLastError()) + ")");
  }

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRect(&frame, style, FALSE);
  // WM_NCCREATE hands the window to window_ before CreateWindowExW returns.
  CreateWindowExW(0, kClassName, toWide(WindowModel::kTitle).c_str(), style, CW_USEDEFAULT,
                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, instance, this);
  if (!window_) {
    throw ProgramEnd("cannot create the window SERVICEFILE (error " +
                     std::to_string(GetLastError()) + ")");
  }
  taskTarget_ = window_.get();
  trayIcon_ = std::make_unique<TrayIcon>(window_.get(), smallIcon_.get());
}

Win32ServiceWindow::~Win32ServiceWindow() {
  // While the window is whole: a cycle waiting for it must still be served.
  model_.shutDown();
  trayIcon_.reset();  // the icon leaves the notification area first
  if (window_) {
    // The procedure no longer reaches this object while the window goes.
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    dropQueuedUiTasks(window_.get());
    window_.reset();
  }
}

void Win32ServiceWindow::createControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  pauseBox_ = CreateWindowExW(
      0, L"BUTTON", L"&Pause", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 12, 12, 120,
      20, window_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPauseBoxId)), instance,
      nullptr);
  statusLabel_ = CreateWindowExW(
      0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_SUNKEN | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE, 8,
      kClientHeight - 30, kClientWidth - 16, 22, window_.get(),
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusLabelId)), instance, nullptr);
  SendMessageW(pauseBox_, WM_SETFONT, font, TRUE);
  SendMessageW(statusLabel_, WM_SETFONT, font, TRUE);
}

void Win32ServiceWindow::everySecond(std::function<void()> task) {
  everySecond_ = std::move(task);
  if (window_) SetTimer(window_.get(), kSecondTimer, 1000, nullptr);
}

int Win32ServiceWindow::runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Keyboard navigation between the controls (Alt+P ticks the box).
    if (window_ && IsDialogMessageW(window_.get(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return endStatus_.value_or(model_.exitStatus());
}

LRESULT CALLBACK Win32ServiceWindow::procedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<Win32ServiceWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = OwnedWindow(window);
  }
  auto* self = reinterpret_cast<Win32ServiceWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT Win32ServiceWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = window_.get();
  if (runUiTaskMessage(message, wParam, lParam)) return 0;
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    // Explorer restarted: its new notification area knows no icon.
    if (trayIcon_ && trayIcon_->added()) {
      if (trayIcon_->addAgain()) {
        journal_.info("tray icon added again");
      } else {
        journal_.warning("the shell did not take the tray icon again");
      }
    }
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      createControls();
      return 0;
    case WM_TIMER:
      if (wParam == kTickTimer) model_.tick();
      if (wParam == kSecondTimer && everySecond_) everySecond_();
      return 0;
    case WM_COMMAND:
      command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case kTrayCallbackMessage:
      model_.trayCode(static_cast<int>(LOWORD(lParam)));
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && model_.awaitsActivation()) {
        // Run from the message loop, not inside the activation.
        postUiTask(window, [this] { model_.firstActivation(); });
      }
      break;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {
        // Decided from the message loop, as the state may change again.
        postUiTask(window, [this] { model_.windowMinimised(); });
      }
      break;
    case WM_CLOSE:
      // The model ends the program and closes the window, or keeps it
      // until the running cycle has finished.
      if (model_.closeRequested() && window_) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kTickTimer);
      KillTimer(window, kSecondTimer);
      dropQueuedUiTasks(window);
      break;
    case WM_NCDESTROY:
      window_.release();  // the system has destroyed it
      pauseBox_ = statusLabel_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Win32ServiceWindow::command(UINT id, UINT notification) {
  switch (id) {
    case kPauseBoxId:
      if (notification == BN_CLICKED) {
        model_.setPaused(SendMessageW(pauseBox_, BM_GETCHECK, 0, 0) == BST_CHECKED);
      }
      break;
    case kPauseItem:
      model_.pauseItem();
      break;
    case kRestoreItem:
      model_.restoreItem();
      break;
    case kExitItem:
      model_.exitItem();
      break;
    default:
      break;
  }
}

void Win32ServiceWindow::startTickTimer(int intervalMs) {
  SetTimer(window_.get(), kTickTimer, static_cast<UINT>(intervalMs), nullptr);
}

void Win32ServiceWindow::stopTickTimer() {
  if (window_) KillTimer(window_.get(), kTickTimer);
}

void Win32ServiceWindow::showWindow() {
  ShowWindow(window_.get(), IsIconic(window_.get()) ? SW_RESTORE : SW_SHOWNORMAL);
  SetForegroundWindow(window_.get());
}

void Win32ServiceWindow::hideWindow() {
  ShowWindow(window_.get(), SW_HIDE);  // only the icon remains
}

void Win32ServiceWindow::minimiseWindow() {
  ShowWindow(window_.get(), SW_MINIMIZE);
}

bool Win32ServiceWindow::isMinimised() const {
  return window_ && IsIconic(window_.get());
}

void Win32ServiceWindow::bringToForeground() {
  if (!window_ || !IsWindowVisible(window_.get())) return;
  BringWindowToTop(window_.get());
  SetForegroundWindow(window_.get());
}

void Win32ServiceWindow::closeWindow() {
  if (window_) DestroyWindow(window_.get());
}

void Win32ServiceWindow::setStatusText(const std::string& text) {
  if (statusLabel_ != nullptr) SetWindowTextW(statusLabel_, toWide(text).c_str());
}

void Win32ServiceWindow::setPauseTicked(bool ticked) {
  if (pauseBox_ != nullptr) {
    SendMessageW(pauseBox_, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void Win32ServiceWindow::addTrayIcon(const std::string& tip) {
  // A failure is ignored; the journal says so.
  if (trayIcon_->add(tip)) {
    journal_.info("tray icon added");
  } else {
    journal_.warning("the shell did not take the tray icon");
  }
}

void Win32ServiceWindow::removeTrayIcon() {
  trayIcon_->remove();
}

void Win32ServiceWindow::popupMenu() {
  menu_.trackAtPointer(window_.get());
}

void Win32ServiceWindow::closeMenu() {
  PopupMenu::close();
}

void Win32ServiceWindow::messageBox(const std::string& text, MessageIcon icon) {
  messages_.show(text, icon);
}

bool Win32ServiceWindow::closeMessageBox() {
  // MessageBoxW's box is a dialog (class #32770) of this thread.
  HWND box = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM found) -> BOOL {
        wchar_t name[16] = {};
        if (GetClassNameW(window, name, 16) == 0 || std::wcscmp(name, L"#32770") != 0 ||
            !IsWindowVisible(window)) {
          return TRUE;
        }
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return false;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return true;
}

void Win32ServiceWindow::processPendingEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the outer loop: the program has ended.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (window_ && IsDialogMessageW(window_.get(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32ServiceWindow::postToUi(std::function<void()> task) {
  // Once the window is gone the post fails and the task is dropped.
  postUiTask(taskTarget_, std::move(task));
}

void Win32ServiceWindow::runOnUiAndWait(std::function<void()> task) {
  sendUiTask(taskTarget_, task);
}

void Win32ServiceWindow::onProgramEnd(int status) {
  endStatus_ = status;
  PostQuitMessage(status);
}

}  // namespace agent
