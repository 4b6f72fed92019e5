#include "cycle/local_ahead.h"

#include <cassert>
#include <exception>
#include <utility>

#include <fmt/format.h>

#include "base/errors.h"

namespace agent {

LocalAhead::LocalAhead(LocalConnector connect, AheadWork work, AheadInput input, bool held)
    : held_(held), thread_([this, connect = std::move(connect), work, input = std::move(input)] {
        run(connect, work, input);
      }) {}

LocalAhead::~LocalAhead() {
  if (!thread_.joinable()) return;
  stop_.raise();
  thread_.join();
}

void LocalAhead::cancel() {
  {
    MutexLock lock(mutex_);
    if (connection_) connection_->cancel();
  }
  released_.notifyAll();
}

void LocalAhead::wake() {
  // Taken and let go so that a wait between its look and its sleep is not
  // missed.
  { MutexLock lock(mutex_); }
  released_.notifyAll();
}

void LocalAhead::release() {
  assert(owner_.calledOnOwner());
  {
    MutexLock lock(mutex_);
    held_ = false;
  }
  released_.notifyAll();
}

void LocalAhead::releaseAfter(const LocalAhead& earlier) {
  assert(owner_.calledOnOwner());
  assert(!wakeAfter_);
  {
    MutexLock lock(mutex_);
    after_ = earlier.ended_;
  }
  // Made without mutex_ held: it runs at once when earlier has ended.
  wakeAfter_.emplace(*earlier.ended_, [this] { wake(); });
}

bool LocalAhead::waitForRelease() {
  MutexLock lock(mutex_);
  while (held_ && !stop_.raised() && !(after_ != nullptr && after_->raised())) released_.wait();
  return !stop_.raised();
}

void LocalAhead::run(const LocalConnector& connect, AheadWork work, const AheadInput& input) {
  struct MarkEnded {
    Signal& ended;
    ~MarkEnded() { ended.raise(); }
  } markEnded{*ended_};
  try {
    std::unique_ptr<Connection> connection = connect();
    if (!connection) {
      error_ = "no second local connection";
      return;
    }
    Connection* raw = connection.get();
    {
      MutexLock lock(mutex_);
      connection_ = std::move(connection);
    }
    if (!waitForRelease()) {
      error_ = "cancelled before it ran";
      return;
    }
    sources_ = work(*raw, input);
  } catch (const AgentError& e) {
    error_ = e.description();
  } catch (const std::exception& e) {
    error_ = e.what();
  }
}

std::unique_ptr<Connection> LocalAhead::take(std::string* why, AheadSources* sources) {
  assert(owner_.calledOnOwner());
  release();
  if (thread_.joinable()) thread_.join();
  if (!error_.empty()) {
    *why = error_;
    return nullptr;
  }
  *sources = sources_;
  MutexLock lock(mutex_);
  return std::move(connection_);
}

Connection& localWithWorkDone(CycleContext& ctx, const std::string& what, AheadWork work,
                              const AheadInput& input, std::unique_ptr<Connection>& ahead,
                              AheadSources* sources) {
  AheadSources reported;
  if (sources == nullptr) sources = &reported;
  if (ctx.turn.ahead != nullptr) {
    if (!ctx.turn.ahead->ended() && ctx.turn.whileWaiting) ctx.turn.whileWaiting();
    std::string why;
    ahead = ctx.turn.ahead->take(&why, sources);
    if (ahead) return *ahead;
    if (!why.empty()) {
      ctx.journal.warning(
          fmt::format("{} computed ahead on a second local connection failed ({}); computed "
                      "again in order",
                      what, why));
    }
  }
  *sources = work(ctx.local, input);
  return ctx.local;
}

}  // namespace agent
