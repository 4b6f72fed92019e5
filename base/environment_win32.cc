#ifdef _WIN32

#include <windows.h>

#include <cstring>

#include "base/code_page.h"
#include "base/environment.h"

namespace agent {

std::optional<std::string> environmentVariable(const char* name) {
  std::u16string wideName = utf8ToUtf16(name);
  const auto* key = reinterpret_cast<const wchar_t*>(wideName.c_str());
  DWORD size = GetEnvironmentVariableW(key, nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(key, value.data(), size);
  if (length >= size) return std::nullopt;  // changed between the two calls
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(value.data()), length);
}

}  // namespace agent

#endif  // _WIN32
