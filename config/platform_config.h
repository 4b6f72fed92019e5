// The optional file platform.ini in the program folder: the driver map, the
// regional settings, the export code page, the log folder and the link to
// the portal ([remote]: TLS default and time-outs). Every key has
// a default, so a missing file gives a working configuration.
#ifndef AGENT_CONFIG_PLATFORM_CONFIG_H_
#define AGENT_CONFIG_PLATFORM_CONFIG_H_

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "base/code_page.h"
#include "base/regional.h"
#include "base/remote_link.h"

namespace agent {

// Where a driver name of a connection string leads.
struct DriverTarget {
  // Embedded: the local engine; Odbc: the driver manager; MariaDb: the
  // native remote driver on MariaDB Connector/C.
  enum class Kind { Embedded, Odbc, MariaDb };
  Kind kind = Kind::Odbc;
  std::string odbcName;  // the registered ODBC driver name (Kind::Odbc)
};

class DriverMap {
 public:
  DriverMap() = default;
  // home: the program folder, against which a relative embedded server
  // folder is resolved.
  explicit DriverMap(std::filesystem::path home) : home_(std::move(home)) {}

  // Maps name (compared case-insensitively) to target.
  void add(const std::string& name, DriverTarget target);
  // The target for a driver name; a name not mapped goes to ODBC unchanged.
  DriverTarget resolve(const std::string& driverName) const;
  const std::filesystem::path& home() const { return home_; }

 private:
  std::filesystem::path home_;
  std::map<std::string, DriverTarget> targets_;  // keyed by upper-case name
};

struct PlatformConfig {
  DriverMap drivers;
  RegionalSettings regional;
  // [export] code_page: the code page the export files are written in;
  // unset (or "auto"): the one the portal's server reads them in, learnt at
  // every cycle (cycle/export_encoding.h).
  std::optional<CodePage> exportCodePage;
  std::filesystem::path logFolder;  // absolute; default <home>/log
  // [remote]: tls, tls_ca (relative to the program folder), connect_timeout,
  // read_timeout, write_timeout. An account of remote-accounts.ini may
  // override tls and tls_ca.
  RemoteLink remote;
  // [remote] lock_wait_timeout: how long a remote statement waits for a
  // lock another session holds before the server ends it with its lock
  // error (the session's lock_wait_timeout and innodb_lock_wait_timeout;
  // kept below read_timeout, so that a lock wait is never taken for a
  // silent link).
  int lockWaitTimeout = 120;
  // The lock wait the remote session is given: lockWaitTimeout, below the
  // read time-out.
  int lockWaitSeconds() const {
    return std::min(lockWaitTimeout, std::max(1, remote.readTimeout - 1));
  }
  // [upload] changes_only: send only the lines that changed since the last
  // cycle; full_every_hours: merge every table in full at least this often.
  bool changesOnly = false;
  int fullEveryHours = 24;
  // [upload] cycle_lock_wait: how long a cycle waits, in seconds, for
  // another agent's cycle on the same local database or portal account to
  // end before it gives up until the next cycle.
  int cycleLockWait = 60;

  // Reads <home>/platform.ini; a missing file gives the defaults. Throws
  // AgentError naming the file and key for a value it cannot use.
  static PlatformConfig load(const std::filesystem::path& home);
};

// defaults with an explicit tls mode and tls_ca file (relative to home)
// laid over them; empty texts keep the defaults. Throws AgentError starting
// with where ("<file>: [section]") for an unknown mode, or verify-ca
// without a CA file.
RemoteLink overrideLink(const RemoteLink& defaults, const std::string& tls,
                        const std::string& tlsCa, const std::string& where,
                        const std::filesystem::path& home);

}  // namespace agent

#endif  // AGENT_CONFIG_PLATFORM_CONFIG_H_
