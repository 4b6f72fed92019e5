// CleanString: line breaks removed, outer spaces trimmed, runs of spaces
// collapsed, at any length.
#include "upload/clean_string.h"

#include <gtest/gtest.h>

#include <string>

namespace agent {
namespace {

TEST(CleanString, RemovesLineBreaksAndCollapsesSpaces) {
  EXPECT_EQ(cleanString("Fees\r\ndue"), "Feesdue");
  EXPECT_EQ(cleanString("  Fee   due  today "), "Fee due today");
  EXPECT_EQ(cleanString("  \n \n  "), "");
  EXPECT_EQ(cleanString(""), "");
  EXPECT_EQ(cleanString("a \n b"), "a b");               // the run left by the line feed
  EXPECT_EQ(cleanString("tab\t\tkept"), "tab\t\tkept");  // only spaces are blanks
}

TEST(CleanString, SpacesShieldedByACarriageReturnAreCollapsedNotTrimmed) {
  // The trim runs before carriage returns are removed.
  EXPECT_EQ(cleanString("\r   Fee due"), " Fee due");
  EXPECT_EQ(cleanString("Fee due    \r"), "Fee due ");
  EXPECT_EQ(cleanString("\n   Fee due"), "Fee due");
}

TEST(CleanString, LineBreaksAndSpacesFarIntoALongMessageAreHandled) {
  const std::string head(40000, 'x');
  EXPECT_EQ(cleanString(head + "\r\n" + "end  of  it"), head + "end of it");
  const std::string spaced = std::string(70000, 'y') + "   " + std::string(10, 'z');
  EXPECT_EQ(cleanString(spaced), std::string(70000, 'y') + " " + std::string(10, 'z'));
}

}  // namespace
}  // namespace agent
