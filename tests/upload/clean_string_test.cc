// CleanString: line breaks removed, outer spaces trimmed, runs of spaces
// collapsed, at any length.
#include "upload/clean_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace agent {
namespace {

TEST(CleanString, RemovesLineBreaksTrimsAndCollapsesSpaces) {
  const std::string x(40000, 'x'), y(70000, 'y');
  const std::pair<std::string, std::string> cases[] = {
      {"Fees\r\ndue", "Feesdue"},
      {"  Fee   due  today ", "Fee due today"},
      {"  \n \n  ", ""},
      {"", ""},
      {"a \n b", "a b"},               // the run left by the line feed
      {"tab\t\tkept", "tab\t\tkept"},  // only spaces are blanks
      // The trim runs before carriage returns are removed: spaces they
      // shield are collapsed, not trimmed.
      {"\r   Fee due", " Fee due"},
      {"Fee due    \r", "Fee due "},
      {"\n   Fee due", "Fee due"},
      // Far into a long message.
      {x + "\r\nend  of  it", x + "end of it"},
      {y + "   zz", y + " zz"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(cleanString(in), out) << in.substr(0, 20);
}

}  // namespace
}  // namespace agent
