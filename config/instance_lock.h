// One agent per program folder. Two agents on one folder would book the
// same gateway payment twice and trip over each other's staging tables and
// views, so every mode (window, --headless, --once) holds an exclusive lock
// on <home>/upload-agent.lock for the life of the process. The operating
// system releases the lock when the process ends, however it ends, so a
// killed agent never leaves a stale lock behind; the file itself stays.
#ifndef AGENT_CONFIG_INSTANCE_LOCK_H_
#define AGENT_CONFIG_INSTANCE_LOCK_H_

#include <filesystem>
#include <memory>
#include <string>

namespace agent {

inline constexpr const char* kInstanceLockFileName = "upload-agent.lock";

class InstanceLock {
 public:
  enum class Outcome {
    Held,         // this process holds the lock now
    HeldByOther,  // another process holds it: this one must end
    Failed,       // the lock file cannot be opened or locked (error() says why)
  };

  // Tries once, without waiting, to lock <home>/upload-agent.lock (made
  // when missing). The lock lasts as long as the object.
  explicit InstanceLock(const std::filesystem::path& home);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }
  const std::filesystem::path& path() const { return path_; }
  // The system's reason when outcome() is Failed.
  const std::string& error() const { return error_; }

 private:
  struct Platform;  // the file handle, in instance_lock_posix.cc / _win32.cc
  std::filesystem::path path_;
  Outcome outcome_ = Outcome::Failed;
  std::string error_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace agent

#endif  // AGENT_CONFIG_INSTANCE_LOCK_H_
