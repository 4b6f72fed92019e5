// The system's text for a Windows error code (GetLastError), without its
// line end. Windows only: defined in windows_message_win32.cc.
#ifndef AGENT_CONFIG_WINDOWS_MESSAGE_H_
#define AGENT_CONFIG_WINDOWS_MESSAGE_H_

#include <string>

namespace agent {

std::string windowsMessage(unsigned long code);

}  // namespace agent

#endif  // AGENT_CONFIG_WINDOWS_MESSAGE_H_
