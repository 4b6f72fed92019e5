// An exclusive lock on a file beside something shared (the embedded
// engine's database file), taken by one open handle: another process, or
// another handle of this process, cannot hold it at the same time. The
// system releases it when the handle closes or the process ends, however it
// ends, so a killed holder never leaves a stale lock. The holder writes a
// line naming itself into the file, and a waiter that gives up reads it.
#ifndef AGENT_CONFIG_SIDE_FILE_LOCK_H_
#define AGENT_CONFIG_SIDE_FILE_LOCK_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "base/signal.h"

namespace agent {

class SideFileLock {
 public:
  enum class Outcome {
    Held,         // this object holds the lock; the file names holder
    HeldByOther,  // another holder kept it for the whole wait (detail() names it)
    Failed,       // the file cannot be opened or locked (detail() says why)
  };

  // Tries to lock path (made when missing) every 100 ms until wait has
  // passed, or until stop is raised (which ends the wait between two tries
  // at once).
  SideFileLock(const std::filesystem::path& path, const std::string& holder,
               std::chrono::milliseconds wait, const Signal* stop = nullptr);
  ~SideFileLock();
  SideFileLock(const SideFileLock&) = delete;
  SideFileLock& operator=(const SideFileLock&) = delete;

  Outcome outcome() const { return outcome_; }
  // HeldByOther: the line the other holder wrote ("" when none yet);
  // Failed: the system's reason.
  const std::string& detail() const { return detail_; }
  // How long the constructor waited for the lock.
  std::chrono::milliseconds waited() const { return waited_; }

 private:
  // The open file, in side_file_lock_posix.cc / _win32.cc.
  struct Platform {
    enum class Try { Locked, Busy, Failed };
    // nullptr (and *error) when the file cannot be opened or made.
    static std::unique_ptr<Platform> open(const std::filesystem::path& path, std::string* error);
    ~Platform();  // closing the handle releases the lock
    Try tryLock(std::string* error);
    void writeText(const std::string& text);
    std::string readText();
    std::intptr_t handle = -1;  // the descriptor, or the HANDLE
  };
  Outcome outcome_ = Outcome::Failed;
  std::string detail_;
  std::chrono::milliseconds waited_{0};
  std::unique_ptr<Platform> platform_;
};

// "program folder <home>, host <name>, process <id>": who this agent is,
// for a lock's holder line.
std::string thisAgentIdentity(const std::filesystem::path& home);

}  // namespace agent

#endif  // AGENT_CONFIG_SIDE_FILE_LOCK_H_
