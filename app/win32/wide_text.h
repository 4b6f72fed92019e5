// The program's UTF-8 text as the wide (UTF-16) text of the W functions,
// and back.
#ifndef AGENT_APP_WIN32_WIDE_TEXT_H_
#define AGENT_APP_WIN32_WIDE_TEXT_H_

#include <string>
#include <string_view>

#include "base/code_page.h"

namespace agent {

// wchar_t is a UTF-16 unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring toWide(std::string_view text) {
  std::u16string wide = utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string fromWide(std::wstring_view text) {
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

}  // namespace agent

#endif  // AGENT_APP_WIN32_WIDE_TEXT_H_
