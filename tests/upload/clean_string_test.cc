// CleanString: line breaks removed, outer spaces trimmed, runs of spaces
// collapsed, at any length.
#include "upload/clean_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace agent {
namespace {

TEST(CleanString, RemovesLineBreaksTrimsAndCollapsesSpaces) {
  const std::string x(40000, 'x');
  const std::string y(70000, 'y');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Fees\r\ndue", "Feesdue"},
      {"  Fee   due  today ", "Fee due today"},
      {"  \n \n  ", ""},
      {"", ""},
      {"a \n b", "a b"},               // the run left by the line feed
      {"tab\t\tkept", "tab\t\tkept"},  // only spaces are blanks
      // The trim runs before carriage returns are removed: the spaces they
      // shield are collapsed, not trimmed.
      {"\r   Fee due", " Fee due"},
      {"Fee due    \r", "Fee due "},
      {"\n   Fee due", "Fee due"},
      // Line breaks and spaces far into a long message.
      {x + "\r\n" + "end  of  it", x + "end of it"},
      {y + "   zz", y + " zz"},
  };
  for (const auto& [message, cleaned] : cases) {
    EXPECT_EQ(cleanString(message), cleaned) << message.substr(0, 40);
  }
}

}  // namespace
}  // namespace agent
