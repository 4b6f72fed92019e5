#include "cycle/local_ahead.h"

#include <chrono>
#include <exception>
#include <utility>

#include <fmt/format.h>

#include "base/errors.h"

namespace agent {

LocalAhead::LocalAhead(LocalConnector connect, AheadWork work, std::string univCode,
                       LocalAhead* after)
    : after_(after),
      thread_([this, connect = std::move(connect), work, univCode = std::move(univCode)] {
        run(connect, work, univCode);
      }) {}

LocalAhead::~LocalAhead() {
  if (!thread_.joinable()) return;
  cancelled_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_) connection_->cancel();
  }
  thread_.join();
}

bool LocalAhead::waitEnded(const std::atomic<bool>& waiterCancelled) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The waiter's cancel does not reach this object's condition: look at it
  // now and then.
  while (!ended_ && !waiterCancelled) endedChanged_.wait_for(lock, std::chrono::milliseconds(20));
  return !waiterCancelled;
}

void LocalAhead::run(const LocalConnector& connect, AheadWork work, const std::string& univCode) {
  struct Ended {
    LocalAhead& self;
    ~Ended() {
      std::lock_guard<std::mutex> lock(self.mutex_);
      self.ended_ = true;
      self.endedChanged_.notify_all();
    }
  } ended{*this};
  try {
    std::unique_ptr<Connection> connection = connect();
    if (!connection) {
      error_ = "no second local connection";
      return;
    }
    Connection* raw = connection.get();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection_ = std::move(connection);
    }
    if (after_ != nullptr && !after_->waitEnded(cancelled_)) {
      error_ = "cancelled";
      return;
    }
    work(*raw, univCode);
  } catch (const AgentError& e) {
    error_ = e.description();
  } catch (const std::exception& e) {
    error_ = e.what();
  }
}

std::unique_ptr<Connection> LocalAhead::take(std::string* why) {
  if (thread_.joinable()) thread_.join();
  if (!error_.empty()) {
    *why = error_;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(connection_);
}

Connection& localWithWorkDone(CycleContext& ctx, const std::string& what, AheadWork work,
                              std::unique_ptr<Connection>& ahead) {
  if (ctx.ahead != nullptr) {
    std::string why;
    ahead = ctx.ahead->take(&why);
    if (ahead) return *ahead;
    if (!why.empty()) {
      ctx.journal.warning(
          fmt::format("{} computed ahead on a second local connection failed ({}); computed "
                      "again in order",
                      what, why));
    }
  }
  work(ctx.local, ctx.univCode);
  return ctx.local;
}

}  // namespace agent
