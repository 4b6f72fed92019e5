#include "db/drivers/driver_connection.h"

#include "base/file_names.h"
#include "db/connection_string.h"
#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "db/mariadb_connection.h"
#include "db/odbc_connection.h"

namespace agent {

void DriverConnection::open(const std::string& connectionString, const std::string& user,
                            const std::string& password) {
  impl_.reset();
  embeddedServer_.clear();
  ConnectionString cs(connectionString);
  DriverTarget target = drivers_.resolve(cs.driverName());
  kind_ = target.kind;
  if (target.kind == DriverTarget::Kind::MariaDb) {
#ifdef AGENT_HAVE_MARIADB
    impl_ = MariaDbConnection::open(connectionString, user, password);
#else
    throw DbError("IM003", 0,
                  "The native MariaDB driver (platform.ini: mariadb) is not built into this "
                  "program; map the driver to odbc:<registered name>.");
#endif
  } else if (target.kind == DriverTarget::Kind::Embedded) {
    std::filesystem::path server = pathFromText(cs.get("Server").value_or(""));
    if (server.is_relative()) server = drivers_.home() / server;
    std::string uid = user.empty() ? cs.get("Uid").value_or("") : user;
    std::string pwd = password.empty() ? cs.get("Pwd").value_or("") : password;
    impl_ = openEmbeddedConnection(server, uid, pwd);
    embeddedServer_ = server;
  } else {
    std::string text =
        target.odbcName == cs.driverName() ? connectionString : cs.withDriver(target.odbcName);
    impl_ = openOdbcConnection(text, user, password);
  }
}

Connection& DriverConnection::impl() {
  if (!impl_) throw closedConnectionError();
  return *impl_;
}

void DriverConnection::setDefaultDatabase(const std::string& name) {
  impl().setDefaultDatabase(name);
}

void DriverConnection::execute(const std::string& sql) {
  impl().execute(sql);
}

std::unique_ptr<Recordset> DriverConnection::query(const std::string& sql, Cursor cursor) {
  return impl().query(sql, cursor);
}

void DriverConnection::allowLocalFile(const LocalFileGrant& file) {
  if (impl_) impl_->allowLocalFile(file);
}

}  // namespace agent
