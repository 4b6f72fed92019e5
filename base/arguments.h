// The program's command-line arguments as UTF-8 text. On Windows main's argv
// is in the ANSI code page, which cannot hold every folder name, so the
// arguments are taken from the wide command line (arguments_win32.cc).
#ifndef AGENT_BASE_ARGUMENTS_H_
#define AGENT_BASE_ARGUMENTS_H_

#include <string>
#include <vector>

namespace agent {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  Utf8Arguments(const Utf8Arguments&) = delete;
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;

  int argc() const { return static_cast<int>(pointers_.size()) - 1; }
  // Null-terminated, as main's argv; valid while this object lives.
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

}  // namespace agent

#endif  // AGENT_BASE_ARGUMENTS_H_
