// Message boxes on the desktop: each message is a modal box with an OK
// button and the program's title as caption. A box runs a nested event
// loop until it is answered.
#ifndef AGENT_APP_QT_QT_MESSAGE_SINK_H_
#define AGENT_APP_QT_QT_MESSAGE_SINK_H_

#include "cycle/message_sink.h"

namespace agent {

class QtMessageSink : public MessageSink {
 public:
  // Needs a QApplication. The caption is the application's name.
  void show(const std::string& text, MessageIcon icon) override;
};

}  // namespace agent

#endif  // AGENT_APP_QT_QT_MESSAGE_SINK_H_
