// File names on Windows: UTF-16 at the API; the remote driver's file names
// from Wine's own mapping when the program runs under Wine.
#ifdef _WIN32

#include <windows.h>

#include <cstring>
#include <memory>

#include "base/code_page.h"
#include "base/file_names.h"

namespace agent {

namespace {

// Wine's ntdll exports wine_get_version; Windows' does not.
bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string wideToUtf8(const std::wstring& text) {
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// The Unix name Wine maps a Windows name to (kernel32's
// wine_get_unix_file_name, whose result the caller frees from the process
// heap); empty when Wine cannot map it.
std::string wineUnixName(const std::wstring& windowsName) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return {};
  // Through void*: GetProcAddress returns a generic function pointer.
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
  if (unixName == nullptr) return {};
  struct HeapFreer {
    void operator()(char* p) const { HeapFree(GetProcessHeap(), 0, p); }
  };
  std::unique_ptr<char, HeapFreer> name(unixName(windowsName.c_str()));
  return name ? std::string(name.get()) : std::string();
}

}  // namespace

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
  std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
}

std::string remoteDriverFileName(const std::filesystem::path& path) {
  static const bool wine = runningUnderWine();
  if (wine) {
    std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
    std::string unixName = wineUnixName(absolute.make_preferred().wstring());
    if (!unixName.empty()) return unixName;
  }
  return agentFileName(path);
}

std::string agentFileName(const std::filesystem::path& path) {
  std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
  return wideToUtf8(absolute.make_preferred().wstring());
}

}  // namespace agent

#endif  // _WIN32
