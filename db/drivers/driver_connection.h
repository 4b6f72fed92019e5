// DriverConnection is the ADO-like connection object of the agent: it is
// made unopened, opened with a connection string, and picks its driver from
// the string's Driver or Provider name through the DriverMap of
// platform.ini. Statements on a connection that is not open fail as ADO
// fails them ("Operation is not allowed when the object is closed.").
#ifndef AGENT_DB_DRIVERS_DRIVER_CONNECTION_H_
#define AGENT_DB_DRIVERS_DRIVER_CONNECTION_H_

#include <filesystem>
#include <memory>
#include <string>

#include "config/platform_config.h"
#include "db/connection.h"

namespace agent {

class DriverConnection : public Connection {
 public:
  // drivers must outlive the connection.
  explicit DriverConnection(const DriverMap& drivers) : drivers_(drivers) {}
  DriverConnection(const DriverConnection&) = delete;
  DriverConnection& operator=(const DriverConnection&) = delete;

  // Connects. The embedded engine takes the server folder from Server=,
  // the user from Uid= or user, the password from Pwd= or password. Throws
  // DbError; the connection stays unopened then.
  void open(const std::string& connectionString, const std::string& user = "",
            const std::string& password = "");

  bool isOpen() const override { return impl_ != nullptr; }
  void setDefaultDatabase(const std::string& name) override;
  void execute(const std::string& sql) override;
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override;
  void allowLocalFile(const LocalFileGrant& file) override;
  bool streamsLocalFiles() const override { return impl_ != nullptr && impl_->streamsLocalFiles(); }
  std::string loadStatement(const LocalLoad& load) override {
    return impl_ != nullptr ? impl_->loadStatement(load) : Connection::loadStatement(load);
  }

  // The driver the last open() chose (Odbc before any).
  DriverTarget::Kind kind() const { return kind_; }
  // The embedded engine's server folder the last open() logged in to;
  // empty for any other driver.
  const std::filesystem::path& embeddedServer() const { return embeddedServer_; }
  // True when the open connection serves LOAD DATA LOCAL requests itself and
  // sends only the file allowLocalFile() named (the native driver).
  bool confinesLocalFiles() const {
    return impl_ != nullptr && kind_ == DriverTarget::Kind::MariaDb;
  }
  // Forwards to the open driver. Must not run concurrently with open().
  void cancel() override {
    if (impl_) impl_->cancel();
  }

 private:
  Connection& impl();
  const DriverMap& drivers_;
  std::unique_ptr<Connection> impl_;
  DriverTarget::Kind kind_ = DriverTarget::Kind::Odbc;
  std::filesystem::path embeddedServer_;
};

}  // namespace agent

#endif  // AGENT_DB_DRIVERS_DRIVER_CONNECTION_H_
