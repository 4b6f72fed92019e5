// Small text helpers shared across the agent: ASCII case folding, trimming,
// splitting. Text is UTF-8 inside the program.
#ifndef AGENT_BASE_TEXT_H_
#define AGENT_BASE_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace agent {

bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
// Removes leading and trailing characters found in blanks.
std::string_view trimView(std::string_view s, std::string_view blanks = " \t");
std::string trim(std::string_view s, std::string_view blanks = " \t");
std::vector<std::string> split(std::string_view s, char separator);
// Every occurrence of from replaced by to.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);
// value as a connection-string value by the ODBC rules: between braces,
// each "}" doubled ("a;b}" -> "{a;b}}}"), so no value can end its part or
// add a key.
std::string braceQuoted(std::string_view value);
// True when s holds a C0 control character (NUL, LF, CR, ...) or DEL.
bool hasControlCharacter(std::string_view s);

}  // namespace agent

#endif  // AGENT_BASE_TEXT_H_
