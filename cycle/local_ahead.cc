#include "cycle/local_ahead.h"

#include <exception>
#include <utility>

#include <fmt/format.h>

#include "base/errors.h"

namespace agent {

LocalAhead::LocalAhead(LocalConnector connect, AheadWork work, std::string univCode)
    : thread_([this, connect = std::move(connect), work, univCode = std::move(univCode)] {
        run(connect, work, univCode);
      }) {}

LocalAhead::~LocalAhead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_) connection_->cancel();
  }
  thread_.join();
}

void LocalAhead::run(const LocalConnector& connect, AheadWork work, const std::string& univCode) {
  struct MarkEnded {
    std::atomic<bool>& ended;
    ~MarkEnded() { ended = true; }
  } markEnded{ended_};
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
    if (!ctx.ahead->ended() && ctx.whileWaiting) ctx.whileWaiting();
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
