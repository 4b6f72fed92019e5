// The native remote driver: a Connection on MariaDB Connector/C with the
// same values, errors and cursors as the ODBC driver, plus what ODBC cannot
// give: LOAD DATA LOCAL confined to the export file just written, TLS with
// certificate checks, authentication that never sends a readable password
// on an unverified link, and time-outs.
#ifndef AGENT_DB_MARIADB_CONNECTION_H_
#define AGENT_DB_MARIADB_CONNECTION_H_

#include <memory>
#include <string>

#include "base/file_names.h"
#include "db/connection.h"

namespace agent {

class MariaDbConnection : public Connection {
 public:
  // Connects with the agent's connection string: SERVER, DATABASE, UID, PWD,
  // PORT (keys case-insensitive, values possibly brace-quoted; OPTION and
  // DRIVER are read past) and the link keywords of db/remote_link.h (no TLS
  // keyword means a plain link). user and password, when not empty, take
  // the place of UID and PWD. Throws DbError with the server's or the
  // library's SQLSTATE, code and message.
  static std::unique_ptr<MariaDbConnection> open(const std::string& connectionString,
                                                 const std::string& user = "",
                                                 const std::string& password = "");
  ~MariaDbConnection() override;
  MariaDbConnection(const MariaDbConnection&) = delete;
  MariaDbConnection& operator=(const MariaDbConnection&) = delete;

  bool isOpen() const override { return true; }
  void setDefaultDatabase(const std::string& name) override;
  void execute(const std::string& sql) override;
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override;
  // The server's request for a local file is answered only while a LOAD
  // DATA LOCAL statement made by loadStatement() runs, only for the file
  // that statement was made for, and only when that file was granted here
  // and is still the file written (not a link, same device and inode). Any
  // other request sends nothing and fails the statement with an error
  // naming the file asked for.
  void allowLocalFile(const LocalFileGrant& file) override;
  // A growing file is sent as it is written: a read at its current end
  // waits for more; a failed export fails the load.
  bool streamsLocalFiles() const override { return true; }
  // Names the file as the agent opens it itself, and remembers which file
  // the statement was made for.
  std::string loadStatement(const LocalLoad& load) override;

  // Breaks off whatever runs on the connection, from any thread: the socket
  // is shut down, so a blocked read or write returns at once and the
  // statement fails ("cancelled"). The connection is unusable afterwards.
  void cancel() override;
  // The TLS version in use ("TLSv1.3"), or "" on a plain link.
  std::string tlsVersion() const;

  struct Impl;

 private:
  explicit MariaDbConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace agent

#endif  // AGENT_DB_MARIADB_CONNECTION_H_
