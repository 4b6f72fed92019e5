// Stand-ins for the agent's front-ends: a clock the test sets, message
// boxes recorded instead of shown, the window's calls counted and scripted.
#ifndef AGENT_TESTS_SUPPORT_DOUBLES_H_
#define AGENT_TESTS_SUPPORT_DOUBLES_H_

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/core/agent_calls.h"
#include "cycle/clock.h"
#include "cycle/cycle_progress.h"
#include "cycle/message_sink.h"

namespace agent::testing {

// advance() lets time pass (both clocks move); set() and jump() set the
// date and time by hand (the steady clock stays).
class SetClock : public Clock {
 public:
  DateTime now() const override { return now_; }
  long long steadySeconds() const override { return steady_; }
  void set(const DateTime& t) { now_ = t; }
  void jump(long long seconds) { now_ = addSeconds(now_, seconds); }
  void advance(long long seconds) {
    now_ = addSeconds(now_, seconds);
    steady_ += seconds;
  }

 private:
  DateTime now_{2024, 3, 1, 9, 0, 0};
  long long steady_ = 1000;
};

// Keeps every message instead of showing it.
class RecordedMessages : public MessageSink {
 public:
  void show(const std::string& text, MessageIcon icon) override {
    texts.push_back(text);
    icons.push_back(icon);
  }
  std::vector<std::string> texts;
  std::vector<MessageIcon> icons;
};

// Counts the window's calls; activate() and runCycle() run their body if one is set.
// The window runs activate() and runCycle() on its worker thread: a body
// that the test's own thread reads from must synchronise with it.
class ScriptedCalls : public AgentCalls {
 public:
  void ensureCsvFolder() override { ++csvFolderCalls; }
  void activate() override {
    ++activations;
    if (onActivate) onActivate();
  }
  void runCycle() override {
    ++cycles;
    if (onCycle) onCycle();
  }
  const CycleProgress& progress() const override { return progressRecord; }
  void requestStop() override { stopRequested.store(true); }

  std::atomic<int> csvFolderCalls{0};  // counted on the worker thread
  std::atomic<int> activations{0};
  std::atomic<int> cycles{0};
  std::function<void()> onActivate;
  std::function<void()> onCycle;
  CycleProgress progressRecord;  // what a body reports as its stage and rows
  std::atomic<bool> stopRequested{false};
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_DOUBLES_H_
