// Running without a desktop: exactly one cycle (--once), or the 50-minute
// schedule without a window (--headless). Messages go to the journal and
// standard error instead of message boxes.
#ifndef AGENT_APP_CORE_HEADLESS_H_
#define AGENT_APP_CORE_HEADLESS_H_

#include <atomic>
#include <chrono>

#include "app/core/agent.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

// Message boxes of a program nobody watches: a journal line and a line on
// standard error.
class LoggedMessages : public MessageSink {
 public:
  explicit LoggedMessages(Journal& journal) : journal_(journal) {}
  void show(const std::string& text, MessageIcon icon) override;

 private:
  Journal& journal_;
};

// Start-up and one activation: the CSV folder, the local connection, one
// cycle. Returns the exit status: 0 only when the cycle stamped its end.
int runOnce(Agent& agent, MessageSink& messages);

// Start-up, the activation's cycle, then a cycle whenever the schedule says
// one is due (every intervalSeconds), until stop becomes true. Returns the exit status.
int runHeadless(Agent& agent, MessageSink& messages, const Clock& clock,
                const std::atomic<bool>& stop, long long intervalSeconds,
                std::chrono::milliseconds tickInterval = std::chrono::milliseconds(500));

}  // namespace agent

#endif  // AGENT_APP_CORE_HEADLESS_H_
