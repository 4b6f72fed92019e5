// Cleaning a message text for the SMS log export.
#include "upload/clean_string.h"

#include <algorithm>

#include "base/text.h"

namespace agent {

namespace {

std::string withoutCharacter(std::string_view text, char removed) {
  std::string out;
  out.reserve(text.size());
  std::copy_if(text.begin(), text.end(), std::back_inserter(out),
               [removed](char c) { return c != removed; });
  return out;
}

std::string collapseSpaceRuns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

}  // namespace

std::string cleanString(std::string_view text) {
  // The order matters: a carriage return at either end shields the spaces
  // beside it from the trim.
  std::string s = withoutCharacter(text, '\n');
  s = trim(s, " ");
  s = withoutCharacter(s, '\r');
  return collapseSpaceRuns(s);
}

}  // namespace agent
