#include "upload/change_state_keeper.h"

#include <fmt/format.h>

#include <system_error>

#include "base/date_time.h"
#include "base/file_names.h"
#include "db/error.h"

namespace agent {

namespace {

namespace fs = std::filesystem;

// SQLite's files beside a store in write-ahead-log mode.
fs::path besideFile(const fs::path& file, const char* suffix) {
  fs::path p = file;
  p += suffix;
  return p;
}

}  // namespace

ChangeStateKeeper::ChangeStateKeeper(fs::path file, Journal& journal)
    : file_(std::move(file)), journal_(journal) {}

std::unique_ptr<ChangeState> ChangeStateKeeper::openChecked(std::string* why) {
  try {
    auto store = std::make_unique<ChangeState>(file_);
    store->checkUsable(true);
    return store;
  } catch (const AgentError& e) {
    *why = e.description();
    return nullptr;
  }
}

ChangeState* ChangeStateKeeper::forCycle() {
  std::string why;
  if (store_ && !store_->failed()) {
    try {
      store_->checkUsable(false);
      return store_.get();
    } catch (const AgentError& e) {
      why = e.description();
    }
  }
  // Closed before anything is done with its files (Windows renames no open
  // file); reopened and read through, a store whose last failure passed
  // (a disk full for a while) serves on.
  store_.reset();
  std::string reopenWhy;
  store_ = openChecked(&reopenWhy);
  if (store_) return store_.get();
  if (why.empty()) why = reopenWhy;

  std::string asideError;
  try {
    const fs::path copy = setAside();
    startedAfresh_ = true;
    store_ = openChecked(&reopenWhy);
    if (store_) {
      journal_.warning(
          copy.empty()
              ? fmt::format("{}; removed (this run had made it) and started afresh: every table "
                            "is merged in full once",
                            why)
              : fmt::format("{}; kept as {} and a fresh store started: every table is merged in "
                            "full once",
                            why, pathText(copy)));
      return store_.get();
    }
    why = reopenWhy;
  } catch (const fs::filesystem_error& e) {
    asideError = fmt::format("; it cannot be moved aside ({})", e.code().message());
  }
  journal_.warning(fmt::format(
      "change detection off for this cycle: {}{}; every table is merged in full (uploads and "
      "payments go on) until the agent can write {} and its folder, or the file is removed",
      why, asideError, pathText(file_)));
  return nullptr;
}

fs::path ChangeStateKeeper::setAside() {
  const fs::path wal = besideFile(file_, "-wal");
  std::error_code ec;
  fs::remove(besideFile(file_, "-shm"), ec);  // made again from the log
  if (startedAfresh_ || !fs::exists(file_, ec)) {
    fs::remove(file_);
    fs::remove(wal);
    return {};
  }
  const DateTime t = localDateTimeNow();
  const std::string stem =
      fmt::format("{}.unusable-{:04}{:02}{:02}-{:02}{:02}{:02}", file_.filename().string(), t.year,
                  t.month, t.day, t.hour, t.minute, t.second);
  // A copy is never replaced, not even by one set aside in the same second.
  fs::path copy = file_.parent_path() / stem;
  for (int n = 2; fs::exists(copy, ec); ++n) {
    copy = file_.parent_path() / fmt::format("{}-{}", stem, n);
  }
  fs::rename(file_, copy);
  // The log holds the latest committed pages: it stays with its store.
  if (fs::exists(wal, ec)) fs::rename(wal, besideFile(copy, "-wal"), ec);
  return copy;
}

}  // namespace agent
