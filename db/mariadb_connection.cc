// The native remote driver on MariaDB Connector/C. Text protocol only: every
// value arrives as the server's text, which gives numbers their exact
// decimal text as the ODBC driver reads them, and is turned into a Value by
// the column's type.
#include "db/mariadb_connection.h"

#ifdef _WIN32
#include <winsock2.h>  // Connector/C's headers need the socket types first
#endif
#include <errmsg.h>
#include <mysql.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/mutex.h"
#include "base/remote_link.h"
#include "base/text.h"
#include "base/thread_annotations.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/fetched_recordset.h"
#include "db/growing_file.h"
#include "db/server_greeting.h"

namespace agent {
namespace {

// The library's global state is set up once, before the first handle, as
// mysql_init would otherwise do without a lock.
void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

DbError errorOf(MYSQL* mysql) {
  const char* state = mysql_sqlstate(mysql);
  return DbError(state != nullptr && *state != '\0' ? state : "HY000",
                 static_cast<long>(mysql_errno(mysql)), mysql_error(mysql));
}

// Authentication methods by what the server could learn from them. The
// challenge-response methods never let the server (or anyone on the link)
// read the password; the others hand it over readable (in clear, or under a
// public key the server itself chose), so they are allowed only with
// verify-identity: the one mode in which the library refuses a server that
// offers no TLS before it authenticates (with required and verify-ca it
// would go on in plain text, which open() then refuses, too late for a
// password sent in clear).
constexpr const char* kChallengeAuth = "mysql_native_password,client_ed25519";
constexpr const char* kReadableAuth = ",caching_sha2_password,sha256_password,mysql_clear_password";

// ---- values ----------------------------------------------------------------

enum class ColumnKind { Exact, Bits, Float, Date, Time, Timestamp, Text };

ColumnKind kindOf(enum_field_types type) {
  switch (type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_YEAR:
      return ColumnKind::Exact;
    case MYSQL_TYPE_BIT:
      return ColumnKind::Bits;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
      return ColumnKind::Float;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      return ColumnKind::Date;
    case MYSQL_TYPE_TIME:
      return ColumnKind::Time;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
      return ColumnKind::Timestamp;
    default:
      return ColumnKind::Text;
  }
}

// Reads up to digits decimal digits at text[*i]; -1 when there are none.
int number(std::string_view text, std::size_t* i, int digits = 9) {
  int value = 0, got = 0;
  bool negative = *i < text.size() && text[*i] == '-';
  if (negative) ++*i;
  while (*i < text.size() && got < digits && text[*i] >= '0' && text[*i] <= '9') {
    value = value * 10 + (text[(*i)++] - '0');
    ++got;
  }
  if (got == 0) return -1;
  return negative ? -value : value;
}

void skip(std::string_view text, std::size_t* i) {
  if (*i < text.size()) ++*i;
}

// "hh:mm:ss[.ffffff]" from text[*i].
void readTimeOfDay(std::string_view text, std::size_t* i, DateTime* dt) {
  dt->hour = number(text, i);
  skip(text, i);
  dt->minute = number(text, i);
  skip(text, i);
  dt->second = number(text, i);
  if (*i < text.size() && text[*i] == '.') {
    ++*i;
    std::size_t start = *i;
    int fraction = number(text, i, 3);
    for (std::size_t n = *i - start; n < 3; ++n) fraction *= 10;
    dt->millisecond = fraction < 0 ? 0 : fraction;
  }
}

// "yyyy-mm-dd" from text[*i]; false for the zero date, which the ODBC
// driver reads as NULL as well.
bool readDate(std::string_view text, std::size_t* i, DateTime* dt) {
  dt->year = number(text, i);
  skip(text, i);
  dt->month = number(text, i);
  skip(text, i);
  dt->day = number(text, i);
  return dt->year > 0 || dt->month > 0 || dt->day > 0;
}

Value toValue(ColumnKind kind, const char* data, unsigned long length) {
  if (data == nullptr) return Value::null();
  std::string_view text(data, length);
  switch (kind) {
    case ColumnKind::Exact: {
      std::string exact(text);
      return Value::number(std::strtod(exact.c_str(), nullptr), exact);
    }
    case ColumnKind::Bits: {
      unsigned long long bits = 0;
      for (char c : text) bits = (bits << 8) | static_cast<unsigned char>(c);
      return Value::number(static_cast<double>(bits), std::to_string(bits));
    }
    case ColumnKind::Float:
      return Value::number(std::strtod(std::string(text).c_str(), nullptr));
    case ColumnKind::Date: {
      DateTime dt;
      std::size_t i = 0;
      if (!readDate(text, &i, &dt)) return Value::null();
      return Value::dateTime(dt);
    }
    case ColumnKind::Time: {
      // A time of day alone sits on the zero date of the platform.
      DateTime dt{1899, 12, 30};
      std::size_t i = 0;
      readTimeOfDay(text, &i, &dt);
      return Value::dateTime(dt);
    }
    case ColumnKind::Timestamp: {
      DateTime dt;
      std::size_t i = 0;
      if (!readDate(text, &i, &dt)) return Value::null();
      skip(text, &i);
      readTimeOfDay(text, &i, &dt);
      return Value::dateTime(dt);
    }
    case ColumnKind::Text:
      return Value::text(std::string(text));
  }
  return Value::null();
}

}  // namespace

// ---- the connection's state ------------------------------------------------

struct MariaDbConnection::Impl {
  MYSQL* mysql = nullptr;
  std::string runningSql;  // the statement being run, for the file handler

  // The grants are made on the cycle's thread while a streamed load's
  // thread may be reading them in the file handler.
  Mutex grantsMutex;
  std::vector<LocalFileGrant> grants GUARDED_BY(grantsMutex);
  // The load statements made here, each with the name of the file it
  // reads: a request while one runs may read that file alone.
  std::map<std::string, std::string, std::less<>> loads GUARDED_BY(grantsMutex);

  // cancel() may come from another thread while a statement blocks; it
  // reaches the link only while the handle is connected and not closing.
  Mutex linkMutex;
  bool connected GUARDED_BY(linkMutex) = false;
  bool cancelled GUARDED_BY(linkMutex) = false;

  ~Impl() {
    {
      MutexLock lock(linkMutex);
      connected = false;
    }
    if (mysql != nullptr) mysql_close(mysql);
  }

  // The grant for path, if there is one.
  // The grant for the file the agent names requested (exactly: another
  // spelling of the same file is another name), if there is one.
  std::optional<LocalFileGrant> grantFor(const std::string& requested) {
    MutexLock lock(grantsMutex);
    for (const LocalFileGrant& g : grants) {
      if (agentFileName(g.path) == requested) return g;
    }
    return std::nullopt;
  }

  // The file the load statement sql was made for; nullopt when sql is no
  // load made here.
  std::optional<std::string> fileLoadedBy(const std::string& sql) {
    MutexLock lock(grantsMutex);
    auto it = loads.find(sql);
    if (it == loads.end()) return std::nullopt;
    return it->second;
  }

  [[noreturn]] void fail() {
    DbError e = errorOf(mysql);
    bool wasCancelled;
    {
      MutexLock lock(linkMutex);
      wasCancelled = cancelled;
    }
    if (wasCancelled) {
      throw DbError(e.sqlstate(), e.nativeCode(), "cancelled: " + e.description());
    }
    throw e;
  }

  void send(const std::string& sql) {
    runningSql = sql;
    int rc = mysql_real_query(mysql, sql.data(), static_cast<unsigned long>(sql.size()));
    runningSql.clear();
    if (rc != 0) fail();
  }

  // Reads past every further result of the last statement (a procedure's
  // status, a multi-statement's rest); an error in one of them is thrown.
  void drainResults() {
    for (;;) {
      int status = mysql_next_result(mysql);
      if (status < 0) return;
      if (status > 0) fail();
      if (MYSQL_RES* r = mysql_store_result(mysql)) {
        mysql_free_result(r);
      } else if (mysql_field_count(mysql) != 0) {
        fail();
      }
    }
  }
};

// ---- LOAD DATA LOCAL -------------------------------------------------------

namespace {

// One local-file request of the server: the file opened for it, or why it
// was refused; for a file still being written, its writer's progress and
// the bytes sent of it.
struct LocalRead {
  std::unique_ptr<FileReader> file;
  std::string refusal;
  std::shared_ptr<const GrowingFile> growing;
  std::uint64_t sent = 0;
};

LocalRead* refuse(LocalRead* read, const std::string& requested, const std::string& why) {
  read->refusal = "the server asked for the local file \"" + requested + "\"; refused: " + why;
  return read;
}

// Opens the granted file for a request, or says why not. The file must be
// the one the statement names and the one that was written: the same path,
// the last component no link, the same file (device and inode, or volume
// and file index), a regular file.
LocalRead* openRequested(MariaDbConnection::Impl& impl, const char* filename) {
  auto* read = new LocalRead;
  std::string requested = filename != nullptr ? filename : "";
  std::optional<std::string> named = impl.fileLoadedBy(impl.runningSql);
  if (!named) return refuse(read, requested, "the running statement loads no local file");
  if (*named != requested) return refuse(read, requested, "the running statement names " + *named);
  std::optional<LocalFileGrant> grant = impl.grantFor(requested);
  if (!grant) return refuse(read, requested, "it is no export file this cycle wrote");
  FileReader::Opened opened = FileReader::open(grant->path);
  switch (opened.refusal) {
    case FileReader::Refusal::None:
      break;
    case FileReader::Refusal::Link:
      return refuse(read, requested, "it is a symbolic link");
    case FileReader::Refusal::NotRegular:
      return refuse(read, requested, "it is not a regular file");
    case FileReader::Refusal::Other:
      return refuse(read, requested, "cannot open it: " + opened.reason);
  }
  if (!grant->identity.known() || opened.file->identity() != grant->identity) {
    return refuse(read, requested, "it is not the file this cycle wrote (replaced since)");
  }
  read->file = std::move(opened.file);
  read->growing = grant->growing;
  return read;
}

int localInit(void** state, const char* filename, void* userdata) {
  LocalRead* read = openRequested(*static_cast<MariaDbConnection::Impl*>(userdata), filename);
  *state = read;
  return read->file ? 0 : 1;
}

// Returns the bytes read, 0 at the end of the file, -1 on failure: the
// library then ends the load and reports localError().
int localRead(void* state, char* buffer, unsigned int length) {
  auto* read = static_cast<LocalRead*>(state);
  std::uint64_t available = 0;
  if (read->growing) {
    // Only bytes the writer has flushed are read: a read at the current end
    // of a file still written is no end of the file.
    GrowingFile::Extent extent = read->growing->waitBeyond(read->sent);
    if (!extent.failure.empty()) {
      read->refusal = "the export file was not completed: " + extent.failure;
      return -1;
    }
    if (extent.bytes <= read->sent) return 0;
    available = extent.bytes - read->sent;
    length = static_cast<unsigned int>(std::min<std::uint64_t>(length, available));
  }
  try {
    std::size_t n = read->file->read(buffer, length);
    if (n == 0 && available > 0) {
      read->refusal = "the export file is shorter than written";
      return -1;
    }
    read->sent += n;
    return static_cast<int>(n);
  } catch (const std::system_error& e) {
    read->refusal = std::string("reading the export file failed: ") + e.what();
    return -1;
  }
}

void localEnd(void* state) {
  auto* read = static_cast<LocalRead*>(state);
  delete read;
}

int localError(void* state, char* message, unsigned int length) {
  auto* read = static_cast<LocalRead*>(state);
  const std::string& text = read != nullptr ? read->refusal : std::string("no local file");
  std::snprintf(message, length, "%s", text.c_str());
  return CR_UNKNOWN_ERROR;
}

// ---- recordsets ------------------------------------------------------------

struct Column {
  std::string name;
  ColumnKind kind;
};

std::vector<Column> describe(MYSQL_RES* result) {
  std::vector<Column> columns;
  unsigned int count = mysql_num_fields(result);
  MYSQL_FIELD* fields = mysql_fetch_fields(result);
  columns.reserve(count);
  for (unsigned int i = 0; i < count; ++i) {
    columns.push_back(
        Column{std::string(fields[i].name, fields[i].name_length), kindOf(fields[i].type)});
  }
  return columns;
}

// A result read row by row from the server (Forward, mysql_use_result) or
// read whole at open (Static, mysql_store_result, then let go).
class MariaDbRecordset : public FetchedRecordset {
 public:
  MariaDbRecordset(MariaDbConnection::Impl& impl, MYSQL_RES* result, Cursor cursor)
      : impl_(impl), result_(result) {
    if (result_ == nullptr) {
      impl_.drainResults();
      start({}, cursor);
      return;
    }
    columns_ = describe(result_);
    std::vector<std::string> names;
    for (const Column& column : columns_) names.push_back(column.name);
    start(std::move(names), cursor);
  }

  ~MariaDbRecordset() override { releaseResult(); }

 private:
  // The next row; false at the end, when the result is let go (an error
  // while reading is thrown).
  bool fetchRow(std::vector<Value>& out) override {
    if (result_ == nullptr) return false;
    MYSQL_ROW row = mysql_fetch_row(result_);
    if (row == nullptr) {
      if (mysql_errno(impl_.mysql) != 0) {
        DbError e = errorOf(impl_.mysql);
        mysql_free_result(result_);
        result_ = nullptr;
        throw e;
      }
      mysql_free_result(result_);
      result_ = nullptr;
      impl_.drainResults();
      return false;
    }
    unsigned long* lengths = mysql_fetch_lengths(result_);
    out.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      out[i] = toValue(columns_[i].kind, row[i], lengths[i]);
    }
    return true;
  }

  // Reads past the rows not fetched, so the connection is free again.
  void releaseResult() override {
    if (result_ == nullptr) return;
    mysql_free_result(result_);
    result_ = nullptr;
    try {
      impl_.drainResults();
    } catch (const DbError&) {
      // The next statement reports the connection's state.
    }
  }

  MariaDbConnection::Impl& impl_;
  MYSQL_RES* result_;
  std::vector<Column> columns_;
};

// The library refuses a server that offers no TLS before the login only
// when it checks the certificate's name; with required and verify-ca it
// would log in in plain text (a relay that strips TLS could then keep the
// session). For those the server's greeting is read first, on a connection
// that sends nothing, and a server that offers no TLS is refused there.
void refuseServerWithoutTls(const RemoteLink& link, const std::string& host, unsigned int port) {
  if (link.tls != TlsMode::Required && link.tls != TlsMode::VerifyCa) return;
  ServerGreeting greeting = readServerGreeting(host.empty() ? "localhost" : host,
                                               port == 0 ? 3306 : port, link.connectTimeout);
  if (!greeting.offersTls) {
    throw DbError("08001", CR_SSL_CONNECTION_ERROR,
                  std::string("TLS is required (tls = ") + tlsModeName(link.tls) +
                      ") but the server at " + host + " offers none; nothing was sent");
  }
}

// The library's refusal, with the setting that decides it named when the
// refusal is the TLS link's (a certificate that is not trusted, or that
// names another host).
DbError connectError(MYSQL* mysql, const RemoteLink& link) {
  DbError e = errorOf(mysql);
  if (link.tls == TlsMode::Off || e.nativeCode() != CR_SSL_CONNECTION_ERROR) return e;
  std::string advice =
      link.tlsCa.empty()
          ? "; the server's certificate is not one the system trusts: name the CA that signed it "
            "in tls_ca (platform.ini [remote], or the account's section)"
          : "; the server's certificate was refused with tls_ca = " + link.tlsCa.string() +
                ": check that this CA signed it";
  if (link.tls == TlsMode::VerifyIdentity) {
    advice += ", and that it names the server as the account's server setting spells it";
  }
  return DbError(e.sqlstate(), e.nativeCode(),
                 e.description() + " (tls = " + tlsModeName(link.tls) + ")" + advice);
}

void setOption(MYSQL* mysql, mysql_option option, const void* value, const char* what) {
  if (mysql_optionsv(mysql, option, value) != 0) {
    throw DbError("HY000", 0, std::string("MariaDB Connector/C refused the option ") + what);
  }
}

}  // namespace

// ---- the connection --------------------------------------------------------

std::unique_ptr<MariaDbConnection> MariaDbConnection::open(const std::string& connectionString,
                                                           const std::string& user,
                                                           const std::string& password) {
  initLibrary();
  ConnectionString cs(connectionString);
  RemoteLink link = linkFromConnectionString(cs);
  auto impl = std::make_unique<Impl>();
  impl->mysql = mysql_init(nullptr);
  if (impl->mysql == nullptr) throw DbError("HY001", 0, "Cannot allocate a MariaDB connection.");
  MYSQL* mysql = impl->mysql;

  unsigned int connectTimeout = static_cast<unsigned int>(link.connectTimeout);
  unsigned int readTimeout = static_cast<unsigned int>(link.readTimeout);
  unsigned int writeTimeout = static_cast<unsigned int>(link.writeTimeout);
  setOption(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout, "MYSQL_OPT_CONNECT_TIMEOUT");
  setOption(mysql, MYSQL_OPT_READ_TIMEOUT, &readTimeout, "MYSQL_OPT_READ_TIMEOUT");
  setOption(mysql, MYSQL_OPT_WRITE_TIMEOUT, &writeTimeout, "MYSQL_OPT_WRITE_TIMEOUT");
  setOption(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4", "MYSQL_SET_CHARSET_NAME");
  unsigned int localInfile = 1;
  setOption(mysql, MYSQL_OPT_LOCAL_INFILE, &localInfile, "MYSQL_OPT_LOCAL_INFILE");
  mysql_set_local_infile_handler(mysql, localInit, localRead, localEnd, localError, impl.get());

  if (link.tls != TlsMode::Off) {
    my_bool on = 1;
    setOption(mysql, MYSQL_OPT_SSL_ENFORCE, &on, "MYSQL_OPT_SSL_ENFORCE");
    if (link.verified() && !link.tlsCa.empty()) {
      // The name as the connection string gave it (a narrow string on
      // every platform: the library opens it with the narrow file API).
      const std::string ca = link.tlsCa.string();
      setOption(mysql, MYSQL_OPT_SSL_CA, ca.c_str(), "MYSQL_OPT_SSL_CA");
    }
    if (link.tls == TlsMode::VerifyIdentity) {
      setOption(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on, "MYSQL_OPT_SSL_VERIFY_SERVER_CERT");
    }
  }
  std::string allowedAuth = kChallengeAuth;
  if (link.tls == TlsMode::VerifyIdentity) allowedAuth += kReadableAuth;
  setOption(mysql, MARIADB_OPT_RESTRICTED_AUTH, allowedAuth.c_str(), "MARIADB_OPT_RESTRICTED_AUTH");

  std::string host = trim(cs.get("SERVER").value_or(""));
  std::string database = trim(cs.get("DATABASE").value_or(""));
  std::string uid = !user.empty() ? user : cs.get("UID").value_or(cs.get("USER").value_or(""));
  std::string pwd =
      !password.empty() ? password : cs.get("PWD").value_or(cs.get("PASSWORD").value_or(""));
  unsigned int port = 0;
  if (std::string p = trim(cs.get("PORT").value_or("")); !p.empty()) {
    port = static_cast<unsigned int>(std::strtoul(p.c_str(), nullptr, 10));
  }
  refuseServerWithoutTls(link, host, port);
  if (mysql_real_connect(mysql, host.empty() ? nullptr : host.c_str(), uid.c_str(), pwd.c_str(),
                         database.empty() ? nullptr : database.c_str(), port, nullptr,
                         CLIENT_MULTI_RESULTS) == nullptr) {
    throw connectError(mysql, link);
  }
  // A server (or whoever is in the middle) that offers no TLS is not always
  // refused by the library itself: no statement goes over such a link.
  if (link.tls != TlsMode::Off && mysql_get_ssl_cipher(mysql) == nullptr) {
    throw DbError("08001", CR_SSL_CONNECTION_ERROR,
                  std::string("TLS is required (tls = ") + tlsModeName(link.tls) +
                      ") but the server at " + host + " did not start it; link closed");
  }
  {
    MutexLock lock(impl->linkMutex);
    impl->connected = true;
  }
  return std::unique_ptr<MariaDbConnection>(new MariaDbConnection(std::move(impl)));
}

MariaDbConnection::MariaDbConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MariaDbConnection::~MariaDbConnection() = default;

void MariaDbConnection::setDefaultDatabase(const std::string& name) {
  if (mysql_select_db(impl_->mysql, name.c_str()) != 0) impl_->fail();
}

// Every result the statement produces is read past and discarded, so that
// an error in a later result is not lost.
void MariaDbConnection::execute(const std::string& sql) {
  impl_->send(sql);
  if (MYSQL_RES* result = mysql_store_result(impl_->mysql)) {
    mysql_free_result(result);
  } else if (mysql_field_count(impl_->mysql) != 0) {
    impl_->fail();
  }
  impl_->drainResults();
}

std::unique_ptr<Recordset> MariaDbConnection::query(const std::string& sql, Cursor cursor) {
  impl_->send(sql);
  MYSQL_RES* result =
      cursor == Cursor::Forward ? mysql_use_result(impl_->mysql) : mysql_store_result(impl_->mysql);
  if (result == nullptr && mysql_field_count(impl_->mysql) != 0) impl_->fail();
  return std::make_unique<MariaDbRecordset>(*impl_, result, cursor);
}

std::string MariaDbConnection::loadStatement(const LocalLoad& load) {
  std::string name = agentFileName(load.file);
  std::string sql = agent::loadStatement(load, name);
  MutexLock lock(impl_->grantsMutex);
  impl_->loads.insert_or_assign(sql, std::move(name));
  return sql;
}

void MariaDbConnection::allowLocalFile(const LocalFileGrant& file) {
  MutexLock lock(impl_->grantsMutex);
  std::erase_if(impl_->grants, [&](const LocalFileGrant& g) { return g.path == file.path; });
  impl_->grants.push_back(file);
}

// mariadb_cancel() shuts the socket down (and on Windows cancels its pending
// I/O, which a shutdown alone does not end under every Windows).
void MariaDbConnection::cancel() {
  MutexLock lock(impl_->linkMutex);
  impl_->cancelled = true;
  if (impl_->connected) mariadb_cancel(impl_->mysql);
}

std::string MariaDbConnection::tlsVersion() const {
  const char* version = nullptr;
  if (mysql_get_ssl_cipher(impl_->mysql) == nullptr) return "";
  if (mariadb_get_infov(impl_->mysql, MARIADB_CONNECTION_TLS_VERSION, &version) != 0 ||
      version == nullptr) {
    return "";
  }
  return version;
}

}  // namespace agent
