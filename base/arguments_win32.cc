// On Windows the arguments come from the wide command line, split as the C
// runtime splits it (CommandLineToArgvW), and are turned into UTF-8.
#ifdef _WIN32

#include <windows.h>
// windows.h first: shellapi.h uses its types.
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "base/code_page.h"

namespace agent {

std::vector<std::string> platformArguments(int argc, char** argv) {
  int count = 0;
  struct LocalFreer {
    void operator()(LPWSTR* p) const { LocalFree(p); }
  };
  std::unique_ptr<LPWSTR, LocalFreer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const wchar_t* text = wide.get()[i];
    arguments.push_back(utf16ToUtf8(reinterpret_cast<const char16_t*>(text),
                                    std::char_traits<wchar_t>::length(text)));
  }
  return arguments;
}

}  // namespace agent

#endif  // _WIN32
