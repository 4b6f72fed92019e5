#include "db/connection_string.h"

#include "base/text.h"

namespace agent {

ConnectionString::ConnectionString(std::string_view text) : text_(text) {
  std::size_t i = 0;
  while (i < text_.size()) {
    std::size_t eq = text_.find('=', i);
    std::size_t semi = text_.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      if (semi == std::string::npos) break;
      i = semi + 1;  // a part without "=" carries nothing
      continue;
    }
    Part part;
    part.key = trim(std::string_view(text_).substr(i, eq - i));
    std::size_t v = eq + 1;
    while (v < text_.size() && text_[v] == ' ') ++v;
    std::size_t end;
    if (v < text_.size() && text_[v] == '{') {
      // A braced value ends at the first "}" that is not doubled; "}}"
      // stands for one "}".
      std::size_t j = v + 1;
      for (; j < text_.size(); ++j) {
        if (text_[j] != '}') {
          part.value += text_[j];
        } else if (j + 1 < text_.size() && text_[j + 1] == '}') {
          part.value += '}';
          ++j;
        } else {
          break;
        }
      }
      end = j < text_.size() ? j + 1 : text_.size();
      std::size_t next = text_.find(';', end);
      i = next == std::string::npos ? text_.size() : next + 1;
    } else {
      std::size_t next = text_.find(';', v);
      end = next == std::string::npos ? text_.size() : next;
      part.value = trim(std::string_view(text_).substr(v, end - v));
      i = next == std::string::npos ? text_.size() : next + 1;
    }
    part.valueBegin = v;
    part.valueEnd = end;
    parts_.push_back(std::move(part));
  }
}

std::optional<std::string> ConnectionString::get(std::string_view key) const {
  for (const Part& p : parts_) {
    if (equalsIgnoreCase(p.key, key)) return p.value;
  }
  return std::nullopt;
}

std::string ConnectionString::driverName() const {
  if (auto d = get("Driver")) return *d;
  if (auto p = get("Provider")) return *p;
  return {};
}

std::string ConnectionString::withDriver(std::string_view name) const {
  for (const Part& p : parts_) {
    if (equalsIgnoreCase(p.key, "Driver")) {
      return text_.substr(0, p.valueBegin) + braceQuoted(name) + text_.substr(p.valueEnd);
    }
  }
  return text_;
}

}  // namespace agent
