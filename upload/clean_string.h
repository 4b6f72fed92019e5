// CleanString: how a text message is written into the SMS log export. Line
// breaks are removed (not replaced, so the words on either side are joined),
// outer spaces trimmed and runs of spaces collapsed.
#ifndef AGENT_UPLOAD_CLEAN_STRING_H_
#define AGENT_UPLOAD_CLEAN_STRING_H_

#include <string>
#include <string_view>

namespace agent {

// text without its line feeds, then without leading and trailing spaces,
// then without its carriage returns, and with every run of two or more
// spaces reduced to one space, a run left at either end by a carriage
// return included. Only spaces count as blanks; tabs are kept. Any length.
std::string cleanString(std::string_view text);

}  // namespace agent

#endif  // AGENT_UPLOAD_CLEAN_STRING_H_
