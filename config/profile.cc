#include "config/profile.h"

#include <fstream>
#include <sstream>

#include "base/code_page.h"
#include "base/text.h"

namespace agent {

Profile Profile::load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Profile();
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return parse(bytes.str());
}

Profile Profile::parse(const std::string& bytes) {
  Profile profile;
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  profile.utf8_ = std::string_view(bytes).starts_with(kUtf8Bom);
  std::string text = profile.utf8_ ? bytes.substr(kUtf8Bom.size()) : windows1252ToUtf8(bytes);
  std::istringstream lines(text);
  std::string line;
  Section* current = nullptr;
  while (std::getline(lines, line)) {
    std::string_view l = trimView(line, " \t\r");
    if (l.empty() || l.front() == ';') continue;
    if (l.front() == '[') {
      std::size_t close = l.find(']');
      std::string name = trim(l.substr(1, close == std::string_view::npos ? l.npos : close - 1));
      profile.sections_.push_back({name, {}});
      current = &profile.sections_.back();
      continue;
    }
    std::size_t eq = l.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    std::string key = trim(l.substr(0, eq));
    std::string value = trim(l.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\''))) {
      value = value.substr(1, value.size() - 2);  // the Windows reader drops one pair of quotes
    }
    current->entries.emplace_back(std::move(key), std::move(value));
  }
  return profile;
}

const Profile::Section* Profile::find(const std::string& section) const {
  for (const Section& s : sections_) {
    if (equalsIgnoreCase(s.name, section)) return &s;
  }
  return nullptr;
}

std::string Profile::get(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
  const Section* s = find(section);
  if (s == nullptr) return fallback;
  for (const auto& [k, v] : s->entries) {
    if (equalsIgnoreCase(k, key)) return truncateCharacters(v, kMaxValueLength);
  }
  return fallback;
}

std::vector<std::string> Profile::sections() const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::pair<std::string, std::string>> Profile::entries(
    const std::string& section) const {
  const Section* s = find(section);
  return s == nullptr ? std::vector<std::pair<std::string, std::string>>{} : s->entries;
}

}  // namespace agent
