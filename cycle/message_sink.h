// Where the agent's message boxes go: the window shows them modally, the
// headless runner writes them to the journal and standard error.
#ifndef AGENT_CYCLE_MESSAGE_SINK_H_
#define AGENT_CYCLE_MESSAGE_SINK_H_

#include <string>

namespace agent {

enum class MessageIcon { None, Exclamation };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Returns when the user has answered the message (at once when nobody
  // can answer it).
  virtual void show(const std::string& text, MessageIcon icon) = 0;
};

}  // namespace agent

#endif  // AGENT_CYCLE_MESSAGE_SINK_H_
