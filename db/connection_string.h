// Reading and rewriting "key=value;key=value" connection strings as ODBC and
// OLE DB write them: keys case-insensitive, blanks around keys and values
// ignored, a value in braces may hold ";" and "}" doubled ("{a}}b}" is "a}b").
#ifndef AGENT_DB_CONNECTION_STRING_H_
#define AGENT_DB_CONNECTION_STRING_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/remote_link.h"

namespace agent {

class ConnectionString {
 public:
  explicit ConnectionString(std::string_view text);

  // The value of key (without braces), or nullopt when the key is absent.
  std::optional<std::string> get(std::string_view key) const;
  // The driver the string names: the value of Driver (braces removed) or of
  // Provider; empty when it names neither.
  std::string driverName() const;
  // The original text with the Driver value replaced by {name}; every other
  // part, blanks included, stays as it was.
  std::string withDriver(std::string_view name) const;

  const std::string& text() const { return text_; }

 private:
  struct Part {
    std::string key;                   // trimmed
    std::string value;                 // trimmed, braces removed
    std::size_t valueBegin, valueEnd;  // raw value span in text_
  };
  std::string text_;
  std::vector<Part> parts_;
};

// The link a connection string asks for (the inverse of linkKeywords): no
// TLS keyword is Off; FORCETLS=1 Required; with SSLCA VerifyCa; with
// SSLVERIFY=1 VerifyIdentity. Absent time-outs keep their defaults.
RemoteLink linkFromConnectionString(const ConnectionString& cs);

}  // namespace agent

#endif  // AGENT_DB_CONNECTION_STRING_H_
