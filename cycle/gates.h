// The two fixed institution lists that decide a cycle's payment stage and
// the late-fine rows.
#ifndef AGENT_CYCLE_GATES_H_
#define AGENT_CYCLE_GATES_H_

#include <string>

namespace agent {

// List A: institutions whose portal makes its own receipts.
inline constexpr const char* kDownloadList = "P019*P022*P026*P027*P035*P037*";
// List B: institutions whose gateway payments the agent books.
inline constexpr const char* kPostingList = "P001*P002*P005*P014*P023*P034*P036*P038*";

// The code followed by "*" occurs in list A (an empty code matches "*").
bool downloadGate(const std::string& univCode);
// The code itself occurs in list B (a substring search: "P00" and "" match).
bool postingGate(const std::string& univCode);

}  // namespace agent

#endif  // AGENT_CYCLE_GATES_H_
