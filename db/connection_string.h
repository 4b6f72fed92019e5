// Reading and rewriting "key=value;key=value" connection strings as ODBC and
// OLE DB write them: keys case-insensitive, blanks around keys and values
// ignored, a value in braces may hold ";" and "=", and "}}" in it stands
// for "}".
#ifndef AGENT_DB_CONNECTION_STRING_H_
#define AGENT_DB_CONNECTION_STRING_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace agent

#endif  // AGENT_DB_CONNECTION_STRING_H_
