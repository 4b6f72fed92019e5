#include "db/embedded/sqlite_errors.h"

#include <filesystem>
#include <string>

#include "base/disk_room.h"

#include "db/embedded/engine_errors.h"

namespace agent::tsql {

namespace {

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// "t.c" of "UNIQUE constraint failed: t.c, t.d" split into table and column.
void tableAndColumn(const std::string& message, std::string* table, std::string* column) {
  std::size_t colon = message.find(": ");
  std::string rest = colon == std::string::npos ? message : message.substr(colon + 2);
  rest = rest.substr(0, rest.find(','));
  std::size_t dot = rest.find('.');
  *table = dot == std::string::npos ? rest : rest.substr(0, dot);
  *column = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
}

// Whether a failed write was for want of room: SQLite reports a full disk
// as such only for some writes (a write-ahead log that cannot grow says
// "disk I/O error", and the system's error is gone by then); the room left
// for the database's file and its log tells.
bool diskFull(sqlite3* db, int primary) {
  if (primary == SQLITE_FULL) return true;
  if (primary != SQLITE_IOERR) return false;
  const char* file = sqlite3_db_filename(db, "main");
  if (file == nullptr || *file == '\0') return false;
  const std::filesystem::path path = std::filesystem::u8path(file);
  return noRoomToGrow(path) || noRoomToGrow(path.string() + "-wal");
}

}  // namespace

DbError sqliteFailure(sqlite3* db, int rc, SessionState& session) {
  if (session.functionError) {
    DbError e = *session.functionError;
    session.functionError.reset();
    return e;
  }
  int extended = sqlite3_extended_errcode(db);
  std::string message = sqlite3_errmsg(db);
  int primary = rc & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return lockTimeoutError();
  if (diskFull(db, primary)) {
    return DbError("HY000", 1105,
                   "Could not allocate space: the disk holding the database is full, or the "
                   "file reached its size limit (" +
                       message + ").");
  }
  if (primary == SQLITE_CONSTRAINT) {
    std::string table, column;
    tableAndColumn(message, &table, &column);
    if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE) {
      return duplicateKeyError(table);
    }
    if (extended == SQLITE_CONSTRAINT_NOTNULL) return nullNotAllowedError(column, table);
    return DbError("23000", 547, "The statement conflicted with a constraint: " + message);
  }
  if (startsWith(message, "no such column: ")) {
    std::string name = message.substr(16);
    std::size_t dot = name.rfind('.');
    return invalidColumnError(dot == std::string::npos ? name : name.substr(dot + 1));
  }
  if (startsWith(message, "no such table: ")) {
    std::string name = message.substr(15);
    std::size_t dot = name.find('.');
    if (startsWith(name, "main.") || startsWith(name, "temp.")) name = name.substr(dot + 1);
    return invalidObjectError(name);
  }
  if (startsWith(message, "ambiguous column name: "))
    return ambiguousColumnError(message.substr(23));
  if (startsWith(message, "cannot commit - no transaction")) {
    return DbError("25000", 3902,
                   "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  }
  if (startsWith(message, "cannot rollback - no transaction")) {
    return DbError("25000", 3903,
                   "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  }
  if (message.find("cannot reference objects in database temp") != std::string::npos) {
    return DbError("42000", 4508, "Views or functions are not allowed on temporary tables.");
  }
  return engineError(message);
}

}  // namespace agent::tsql
