// The agent's message boxes while its cycles run on a worker thread: a box
// the cycle asks for opens on the window's thread, and the cycle waits
// until it is answered, as it would inside a single-threaded window. Calls
// made on the window's own thread show the box directly.
#ifndef AGENT_APP_CORE_CYCLE_MESSAGES_H_
#define AGENT_APP_CORE_CYCLE_MESSAGES_H_

#include <atomic>
#include <string>
#include <thread>

#include "cycle/message_sink.h"

namespace agent {

class WindowView;

class CycleMessages : public MessageSink {
 public:
  // boxes shows a box and may be called on the window's thread only; it
  // must outlive this object.
  explicit CycleMessages(MessageSink& boxes) : boxes_(boxes) {}

  // From now on, a box asked for on another thread opens on the thread
  // that calls this (the window's) through view. Call before any cycle
  // starts; view must outlive every cycle.
  void routeThrough(WindowView& view);
  // The window is going away: no box opens any more, and a cycle that asks
  // for one goes on at once (its message stays in the journal).
  void close() { closed_.store(true); }

  void show(const std::string& text, MessageIcon icon) override;

 private:
  MessageSink& boxes_;
  WindowView* view_ = nullptr;
  std::thread::id uiThread_;
  std::atomic<bool> closed_{false};
};

}  // namespace agent

#endif  // AGENT_APP_CORE_CYCLE_MESSAGES_H_
