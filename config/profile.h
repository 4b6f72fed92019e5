// A Windows profile (INI) file read as GetPrivateProfileString reads it:
// section and key names case-insensitive, a missing key reads as the
// default, blanks around a value removed, a value cut to 254 characters.
// Lines starting with ";" are comments; a ";" inside a value is kept.
// The file's bytes are taken as Windows-1252 and held as UTF-8, except in a
// file that starts with the UTF-8 byte-order mark (as Notepad saves it):
// that one is read as UTF-8, without the mark.
#ifndef AGENT_CONFIG_PROFILE_H_
#define AGENT_CONFIG_PROFILE_H_

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace agent {

class Profile {
 public:
  // An empty profile (every key missing).
  Profile() = default;
  // Reads path; a file that cannot be read gives an empty profile, as the
  // Windows reader gives defaults.
  static Profile load(const std::filesystem::path& path);
  static Profile parse(const std::string& bytes);

  // The value of key in section, or fallback when either is missing.
  std::string get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const;
  // True when the file started with the UTF-8 byte-order mark.
  bool readAsUtf8() const { return utf8_; }
  // The section names in file order.
  std::vector<std::string> sections() const;
  // The keys and values of a section in file order (empty when missing).
  std::vector<std::pair<std::string, std::string>> entries(const std::string& section) const;

  static constexpr std::size_t kMaxValueLength = 254;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  const Section* find(const std::string& section) const;
  std::vector<Section> sections_;
  bool utf8_ = false;
};

}  // namespace agent

#endif  // AGENT_CONFIG_PROFILE_H_
