// A temporary folder for one test, removed with everything in it when the
// object goes. Names are unique per process and per object, so tests that
// run in parallel never share one.
#ifndef AGENT_TESTS_SUPPORT_TEMP_DIR_H_
#define AGENT_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace agent::testing {

class TempDir {
 public:
  // Creates <system temp>/agent-<hint>-<process tag>-<n>. Throws
  // std::filesystem::filesystem_error when the folder cannot be made.
  explicit TempDir(std::string_view hint = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name.
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes bytes to path exactly as given (binary, no line-end conversion).
// Throws std::runtime_error naming the path when it cannot be written.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// The bytes of a file. Throws std::runtime_error naming the path.
std::string readFile(const std::filesystem::path& path);

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_TEMP_DIR_H_
