// The connection and recordset interfaces every part of the agent talks to.
// Implementations: the ODBC driver (db/odbc_connection.h), the embedded
// local engine (db/embedded/), and DriverConnection, which picks one of them
// from a connection string. Tests wrap a Connection in decorators (one that
// records statements, one that injects a failure); they never fake one.
#ifndef AGENT_DB_CONNECTION_H_
#define AGENT_DB_CONNECTION_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/file_names.h"
#include "db/load_statement.h"
#include "db/local_file.h"
#include "db/value.h"

namespace agent {

// A forward-only view of a query's rows, positioned on the current row.
// A Recordset must not outlive the Connection that opened it.
class Recordset {
 public:
  virtual ~Recordset() = default;

  // ADO's flags: on a result without rows both are true; on a result with
  // rows both are false until moveNext() passes the last row (eof true).
  virtual bool eof() const = 0;
  virtual bool bof() const = 0;
  // Advances to the next row. Throws DbError when the driver fails mid-read.
  virtual void moveNext() = 0;

  virtual std::size_t fieldCount() const = 0;
  virtual const std::string& fieldName(std::size_t index) const = 0;
  // The current row's value of a field. Only valid while !eof().
  virtual const Value& field(std::size_t index) const = 0;

  // The field of that name, compared case-insensitively as ADO does.
  // Throws AgentError(kItemNotFound) naming the field when there is none.
  const Value& field(std::string_view name) const;
  // The index of the named field, or fieldCount() when there is none.
  std::size_t indexOf(std::string_view name) const;
  // The index of the named field, looked up once before a loop over the
  // rows. Throws as field(name) does when there is none.
  std::size_t fieldIndex(std::string_view name) const;
};

// How a query's rows are read.
enum class Cursor {
  // Rows stream from the driver one at a time; nothing else may run on the
  // connection until the recordset is gone. Used for exports.
  Forward,
  // Rows are read whole at open, so other statements may run on the same
  // connection while the recordset is walked (look-ups inside loops).
  Static,
};

class Connection {
 public:
  virtual ~Connection() = default;

  virtual bool isOpen() const = 0;
  // Makes name the database later statements work in. Throws DbError.
  virtual void setDefaultDatabase(const std::string& name) = 0;
  // Runs a statement whose result, if any, is discarded. Throws AgentError
  // (a DbError for driver failures; closedConnectionError() when not open).
  virtual void execute(const std::string& sql) = 0;
  // Opens a query. Throws as execute() does.
  virtual std::unique_ptr<Recordset> query(const std::string& sql,
                                           Cursor cursor = Cursor::Forward) = 0;

  // Adds an export file just written to the files a LOAD DATA LOCAL INFILE
  // statement on this connection may send (a grant for the same path
  // replaces the older one). A driver that serves the server's file requests
  // itself sends a file only when the running statement names it and it
  // was granted, as it was written; the others cannot confine the requests
  // and ignore this (decorators pass it on).
  virtual void allowLocalFile(const LocalFileGrant& file) { (void)file; }
  // Whether a grant may name a file still being written (its growing
  // part): the driver then sends the bytes as they come and a load may
  // run while the export is written. The others read the file whole.
  virtual bool streamsLocalFiles() const { return false; }
  // The LOAD DATA LOCAL statement of load, to be run on this connection
  // as it stands. It names the file as whoever serves the server's request
  // opens it: the driver library by default; the agent itself for a driver
  // that confines the requests, which then knows from the statement which
  // file its request may read.
  virtual std::string loadStatement(const LocalLoad& load) {
    return agent::loadStatement(load, remoteDriverFileName(load.file));
  }
  // Asks the driver to stop the statement now running on this connection,
  // which then fails with the driver's error. Safe to call from another
  // thread while a statement runs, and harmless when none does. A driver
  // that cannot stop a statement does nothing; the statement then ends by
  // itself or by its time-out.
  virtual void cancel() {}
};

// The first column of the first row sql gives, as displayText() shows it
// (NULL as empty); empty when it gives no row. For the one-value questions
// the agent asks a server (a setting, a lock's holder, a stamp).
std::string queryFirstText(Connection& conn, const std::string& sql);

// A Connection that passes every call on to target. A decorator derives
// from it and overrides only what it changes, so that no call (a cancel, a
// file's name) is dropped on its way through a chain of decorators. target
// must outlive the wrapper.
class ConnectionWrapper : public Connection {
 public:
  explicit ConnectionWrapper(Connection& target) : target_(target) {}

  bool isOpen() const override { return target_.isOpen(); }
  void setDefaultDatabase(const std::string& name) override { target_.setDefaultDatabase(name); }
  void execute(const std::string& sql) override { target_.execute(sql); }
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override {
    return target_.query(sql, cursor);
  }
  void allowLocalFile(const LocalFileGrant& file) override { target_.allowLocalFile(file); }
  bool streamsLocalFiles() const override { return target_.streamsLocalFiles(); }
  std::string loadStatement(const LocalLoad& load) override { return target_.loadStatement(load); }
  void cancel() override { target_.cancel(); }

 protected:
  Connection& target() const { return target_; }

 private:
  Connection& target_;
};

}  // namespace agent

#endif  // AGENT_DB_CONNECTION_H_
