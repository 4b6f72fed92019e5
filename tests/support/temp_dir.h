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
  // Makes <system temp>/agent-<hint>-<process tag>-<n>; throws when it cannot.
  explicit TempDir(std::string_view hint = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Whole files as bytes (no line-end conversion); failures throw
// std::runtime_error naming the path.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_TEMP_DIR_H_
