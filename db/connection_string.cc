#include "db/connection_string.h"

#include <charconv>

#include "base/text.h"

namespace agent {
namespace {

bool isTrue(const std::optional<std::string>& value) {
  if (!value) return false;
  std::string v = trim(*value);
  return v == "1" || equalsIgnoreCase(v, "on") || equalsIgnoreCase(v, "yes") ||
         equalsIgnoreCase(v, "true");
}

void readSeconds(const ConnectionString& cs, const char* key, int* out) {
  std::optional<std::string> value = cs.get(key);
  if (!value) return;
  std::string v = trim(*value);
  int seconds = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
  if (ec == std::errc() && end == v.data() + v.size() && seconds > 0) *out = seconds;
}

}  // namespace

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
      // "}}" inside braces stands for one "}"; a single "}" closes the value.
      std::size_t c = v + 1;
      for (; c < text_.size(); ++c) {
        if (text_[c] != '}') {
          part.value += text_[c];
        } else if (c + 1 < text_.size() && text_[c + 1] == '}') {
          part.value += '}';
          ++c;
        } else {
          break;
        }
      }
      end = c < text_.size() ? c + 1 : text_.size();
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

RemoteLink linkFromConnectionString(const ConnectionString& cs) {
  RemoteLink link;
  std::optional<std::string> ca = cs.get("SSLCA");
  if (ca && !trim(*ca).empty()) link.tlsCa = trim(*ca);
  if (isTrue(cs.get("SSLVERIFY"))) {
    link.tls = TlsMode::VerifyIdentity;
  } else if (!link.tlsCa.empty()) {
    link.tls = TlsMode::VerifyCa;
  } else if (isTrue(cs.get("FORCETLS"))) {
    link.tls = TlsMode::Required;
  } else {
    link.tls = TlsMode::Off;
  }
  readSeconds(cs, "CONN_TIMEOUT", &link.connectTimeout);
  readSeconds(cs, "READ_TIMEOUT", &link.readTimeout);
  readSeconds(cs, "WRITE_TIMEOUT", &link.writeTimeout);
  return link;
}

}  // namespace agent
