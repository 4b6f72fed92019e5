#include "db/embedded/engine_errors.h"

namespace agent::tsql {

DbError objectExistsError(const std::string& name) {
  return DbError("42S01", 2714, "There is already an object named '" + name + "' in the database.");
}

DbError invalidObjectError(const std::string& name) {
  return DbError("42S02", 208, "Invalid object name '" + name + "'.");
}

DbError invalidColumnError(const std::string& name) {
  return DbError("42S22", 207, "Invalid column name '" + name + "'.");
}

DbError ambiguousColumnError(const std::string& name) {
  return DbError("42000", 209, "Ambiguous column name '" + name + "'.");
}

DbError cannotDropTableError(const std::string& name) {
  return DbError("42S02", 3701,
                 "Cannot drop the table '" + name +
                     "', because it does not exist or you do not have permission.");
}

DbError cannotDropViewError(const std::string& name) {
  return DbError("42S02", 3701,
                 "Cannot drop the view '" + name +
                     "', because it does not exist or you do not have permission.");
}

DbError syntaxErrorNear(const std::string& token) {
  return DbError("42000", 102, "Incorrect syntax near '" + token + "'.");
}

DbError syntaxErrorNearKeyword(const std::string& keyword) {
  return DbError("42000", 156, "Incorrect syntax near the keyword '" + keyword + "'.");
}

DbError unclosedQuoteError(const std::string& rest) {
  return DbError("42000", 105,
                 "Unclosed quotation mark after the character string '" + rest + "'.");
}

DbError dateConversionError() {
  return DbError("22007", 241,
                 "Conversion failed when converting date and/or time from character string.");
}

DbError dateOutOfRangeError() {
  return DbError("22007", 242,
                 "The conversion of a varchar data type to a datetime data type resulted in an "
                 "out-of-range value.");
}

DbError textToIntError(const std::string& value, const std::string& typeName) {
  return DbError("22018", 245,
                 "Conversion failed when converting the varchar value '" + value +
                     "' to data type " + typeName + ".");
}

DbError textToNumberError(const std::string& typeName) {
  return DbError("22018", 8114, "Error converting data type varchar to " + typeName + ".");
}

DbError truncationError() {
  return DbError("22001", 8152, "String or binary data would be truncated.");
}

DbError loginFailedError(const std::string& user) {
  return DbError("28000", 18456, "Login failed for user '" + user + "'.");
}

DbError cannotOpenDatabaseError(const std::string& name) {
  return DbError("42000", 4060,
                 "Cannot open database \"" + name + "\" requested by the login. The login failed.");
}

DbError databaseExistsError(const std::string& name) {
  return DbError("42000", 1801,
                 "Database '" + name + "' already exists. Choose a different database name.");
}

DbError valueCountError() {
  return DbError("21S01", 213,
                 "Column name or number of supplied values does not match table definition.");
}

DbError unknownFunctionError(const std::string& name) {
  return DbError("42000", 195, "'" + name + "' is not a recognized built-in function name.");
}

DbError missingColumnNameError() {
  return DbError("42000", 1038,
                 "An object or column name is missing or empty. For SELECT INTO statements, "
                 "verify each column has a name. For other statements, look for empty alias "
                 "names. Aliases defined as \"\" or [] are not allowed. Change the alias to a "
                 "valid name.");
}

DbError viewColumnNameError(int column) {
  return DbError("42000", 4511,
                 "Create View or Function failed because no column name was specified for "
                 "column " +
                     std::to_string(column) + ".");
}

DbError duplicateKeyError(const std::string& table) {
  return DbError("23000", 2627,
                 "Violation of PRIMARY KEY constraint 'PK_" + table +
                     "'. Cannot insert duplicate key in object 'dbo." + table + "'.");
}

DbError nullNotAllowedError(const std::string& column, const std::string& table) {
  return DbError("23000", 515,
                 "Cannot insert the value NULL into column '" + column + "', table '" + table +
                     "'; column does not allow nulls. INSERT fails.");
}

DbError lockTimeoutError() {
  return DbError("HYT00", 1222, "Lock request time out period exceeded.");
}

DbError serverNotFoundError(const std::string& folder) {
  return DbError("08001", 17,
                 "SQL Server does not exist or access denied. (no server.ini in '" + folder + "')");
}

DbError engineError(const std::string& text) {
  return DbError("HY000", 0, text);
}

}  // namespace agent::tsql
