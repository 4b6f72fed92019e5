#include "base/arguments.h"

namespace agent {

// The platform's part (arguments_posix.cc, arguments_win32.cc).
std::vector<std::string> platformArguments(int argc, char** argv);

Utf8Arguments::Utf8Arguments(int argc, char** argv) : texts_(platformArguments(argc, argv)) {
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

}  // namespace agent
