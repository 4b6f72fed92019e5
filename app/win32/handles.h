// Owned Win32 user-interface handles: a window, an icon, a menu, each
// destroyed with the object that holds it.
#ifndef AGENT_APP_WIN32_HANDLES_H_
#define AGENT_APP_WIN32_HANDLES_H_

#include <windows.h>

#include <utility>

namespace agent {

// One handle and the call that frees it. Moves, never copies.
template <typename Handle, BOOL(WINAPI* Free)(Handle)>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Gives the handle up without freeing it (it was freed elsewhere, as a
  // window is once WM_NCDESTROY has come).
  Handle release() { return std::exchange(handle_, nullptr); }
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using OwnedWindow = OwnedHandle<HWND, DestroyWindow>;
using OwnedIcon = OwnedHandle<HICON, DestroyIcon>;
using OwnedMenu = OwnedHandle<HMENU, DestroyMenu>;

// A registered window class, unregistered with the object.
class RegisteredClass {
 public:
  // Registers wc; registered() says whether that worked.
  explicit RegisteredClass(const WNDCLASSEXW& wc)
      : name_(wc.lpszClassName), instance_(wc.hInstance), atom_(RegisterClassExW(&wc)) {}
  ~RegisteredClass() {
    if (atom_ != 0) UnregisterClassW(name_, instance_);
  }
  RegisteredClass(const RegisteredClass&) = delete;
  RegisteredClass& operator=(const RegisteredClass&) = delete;

  bool registered() const { return atom_ != 0; }

 private:
  const wchar_t* name_;
  HINSTANCE instance_;
  ATOM atom_;
};

}  // namespace agent

#endif  // AGENT_APP_WIN32_HANDLES_H_
