// The agent's messages as modal MessageBoxW boxes with an OK button, the
// program's name as caption and the exclamation icon where the message
// carries one. A box runs a nested message loop until it is answered.
#ifndef AGENT_APP_WIN32_MESSAGE_BOX_SINK_H_
#define AGENT_APP_WIN32_MESSAGE_BOX_SINK_H_

#include "cycle/message_sink.h"

namespace agent {

class MessageBoxSink : public MessageSink {
 public:
  void show(const std::string& text, MessageIcon icon) override;
};

}  // namespace agent

#endif  // AGENT_APP_WIN32_MESSAGE_BOX_SINK_H_
