#include "db/embedded/sqlite_functions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "base/code_page.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/sha256.h"
#include "db/embedded/value_conversion.h"

namespace agent::tsql {

namespace {

// ---- collation ----------------------------------------------------------

// The next character of s as a code point folded to lower case (ASCII and
// the Latin-1 letters), advancing *i past it.
int foldedCodePoint(const unsigned char* s, int n, int* i) {
  unsigned char c = s[*i];
  if (c < 0x80) {
    ++*i;
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  }
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  int cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : extra == 1 ? c & 0x1F : c;
  ++*i;
  for (int k = 0; k < extra && *i < n; ++k, ++*i) cp = (cp << 6) | (s[*i] & 0x3F);
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) cp += 0x20;
  return cp;
}

int collate(void*, int na, const void* a, int nb, const void* b) {
  return compareText(na, a, nb, b);
}

// ---- helpers ------------------------------------------------------------

SessionState* sessionOf(sqlite3_context* ctx) {
  return static_cast<SessionState*>(sqlite3_user_data(ctx));
}

void fail(sqlite3_context* ctx, const DbError& e) {
  sessionOf(ctx)->functionError = e;
  sqlite3_result_error(ctx, e.description().c_str(), -1);
}

std::string textArg(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_value_bytes(v)) : std::string();
}

// A declared type given as a constant argument, parsed once per statement.
const SqlType& typeArg(sqlite3_context* ctx, sqlite3_value** argv, int i) {
  void* cached = sqlite3_get_auxdata(ctx, i);
  if (cached != nullptr) return *static_cast<SqlType*>(cached);
  auto* type = new SqlType(SqlType::fromDeclared(textArg(argv[i])));
  sqlite3_set_auxdata(ctx, i, type, [](void* p) { delete static_cast<SqlType*>(p); });
  void* kept = sqlite3_get_auxdata(ctx, i);
  static const SqlType kUnknown;
  return kept ? *static_cast<SqlType*>(kept) : kUnknown;
}

void resultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// A value as a datetime: stored text, other date text by the DATEFORMAT, or
// a number of days since 1900-01-01. Throws DbError.
DateTime toDateTime(sqlite3_value* v, DateOrder order) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      double days = sqlite3_value_double(v);
      double whole = std::floor(days);
      DateTime dt = fromDayNumber(static_cast<long long>(whole));
      long long ms = std::llround((days - whole) * 86400000.0);
      dt.hour = static_cast<int>(ms / 3600000);
      dt.minute = static_cast<int>(ms / 60000 % 60);
      dt.second = static_cast<int>(ms / 1000 % 60);
      dt.millisecond = static_cast<int>(ms % 1000);
      return dt;
    }
    default: {
      std::string text = textArg(v);
      if (text.size() > 10 && text[10] == 'T') {
        if (auto dt = parseStorageText(text)) return *dt;
      }
      DateParse p = parseDateText(text, order);
      if (p.status == DateParse::Status::Malformed) throw dateConversionError();
      if (p.status == DateParse::Status::OutOfRange) throw dateOutOfRangeError();
      return p.value;
    }
  }
}

long long totalMilliseconds(const DateTime& dt) {
  return ((dayNumber(dt.year, dt.month, dt.day) * 24 + dt.hour) * 60 + dt.minute) * 60000LL +
         dt.second * 1000LL + dt.millisecond;
}

DateTime fromMilliseconds(long long total) {
  long long days = total >= 0 ? total / 86400000 : -((-total + 86399999) / 86400000);
  long long rest = total - days * 86400000;
  DateTime dt = fromDayNumber(days);
  dt.hour = static_cast<int>(rest / 3600000);
  dt.minute = static_cast<int>(rest / 60000 % 60);
  dt.second = static_cast<int>(rest / 1000 % 60);
  dt.millisecond = static_cast<int>(rest % 1000);
  return dt;
}

DbError dateOverflowError() {
  return DbError("22008", 517, "Adding a value to a 'datetime' column caused an overflow.");
}

std::string checkedStorage(const DateTime& dt) {
  if (dt.year < 1753 || dt.year > 9999) throw dateOverflowError();
  return storageText(dt);
}

long long floorDiv(long long a, long long b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

DbError unknownPartError(const std::string& part) {
  return DbError("42000", 155, "'" + part + "' is not a recognized datepart option.");
}

// ---- functions ----------------------------------------------------------

void toDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    resultText(ctx, storageText(toDateTime(argv[0], sessionOf(ctx)->dateOrder)));
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

// tsql_todate_style(x, style): text read in the style's date order.
void toDateStyled(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    auto order = dateOrderForStyle(sqlite3_value_int(argv[1]));
    resultText(ctx, storageText(toDateTime(argv[0], order.value_or(sessionOf(ctx)->dateOrder))));
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

// tsql_datestyle(d, style): a datetime as text in a CONVERT style.
void dateStyled(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    DateTime d = toDateTime(argv[0], sessionOf(ctx)->dateOrder);
    resultText(ctx, styledDateText(d, sqlite3_value_int(argv[1])));
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

// A binary value as an integer type of target's size: its last bytes,
// big-endian, as SQL Server converts binary to an integer (a shorter value
// is padded with zeros in front).
long long binaryToInteger(sqlite3_value* v, const SqlType& target) {
  int size = target.name == "BIGINT"     ? 8
             : target.name == "SMALLINT" ? 2
             : target.name == "TINYINT"  ? 1
                                         : 4;
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(v));
  int n = sqlite3_value_bytes(v);
  std::uint64_t value = 0;
  for (int i = std::max(0, n - size); i < n; ++i) value = value << 8 | bytes[i];
  if (size == 8 || target.name == "TINYINT") return static_cast<long long>(value);
  // Two's complement within the type's size.
  std::uint64_t sign = std::uint64_t{1} << (size * 8 - 1);
  return static_cast<long long>(value ^ sign) - static_cast<long long>(sign);
}

void toNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    const SqlType& target = typeArg(ctx, argv, 1);
    sqlite3_value* v = argv[0];
    bool integral = target.kind == SqlType::Kind::Int || target.kind == SqlType::Kind::Bit;
    switch (sqlite3_value_type(v)) {
      case SQLITE_NULL:
        return sqlite3_result_null(ctx);
      case SQLITE_INTEGER: {
        long long i = sqlite3_value_int64(v);
        if (target.kind == SqlType::Kind::Bit) i = i != 0;
        return sqlite3_result_int64(ctx, i);
      }
      case SQLITE_BLOB:
        if (integral && target.kind == SqlType::Kind::Int) {
          return sqlite3_result_int64(ctx, binaryToInteger(v, target));
        }
        break;
      case SQLITE_FLOAT: {
        double d = sqlite3_value_double(v);
        if (target.kind == SqlType::Kind::Bit) return sqlite3_result_int64(ctx, d != 0);
        if (integral) return sqlite3_result_int64(ctx, static_cast<long long>(std::trunc(d)));
        if (target.kind == SqlType::Kind::Numeric) d = roundToScale(d, target.scale);
        return sqlite3_result_double(ctx, d);
      }
      default:
        break;
    }
    NumberValue n = textToNumber(textArg(v), target);
    if (n.integer) return sqlite3_result_int64(ctx, n.intValue);
    return sqlite3_result_double(ctx, n.value);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

// The byte offset of the character at index chars.
std::size_t utf8Offset(const std::string& s, std::size_t chars) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == chars) return i;
      ++n;
    }
  }
  return s.size();
}

void toText(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    const SqlType& target = typeArg(ctx, argv, 1);
    const SqlType& source = typeArg(ctx, argv, 2);
    bool strict = sqlite3_value_int(argv[3]) != 0;
    sqlite3_value* v = argv[0];
    std::string text;
    switch (sqlite3_value_type(v)) {
      case SQLITE_NULL:
        return sqlite3_result_null(ctx);
      case SQLITE_INTEGER:
        text = std::to_string(sqlite3_value_int64(v));
        if (source.kind == SqlType::Kind::Numeric && source.scale > 0) {
          text = fixedText(sqlite3_value_double(v), source.scale);
        }
        break;
      case SQLITE_FLOAT:
        text = source.kind == SqlType::Kind::Numeric
                   ? fixedText(sqlite3_value_double(v), source.scale)
                   : floatText(sqlite3_value_double(v));
        break;
      default:
        text = textArg(v);
        if (source.kind == SqlType::Kind::DateTime) {
          if (auto dt = parseStorageText(text)) text = defaultDateText(*dt);
        }
        break;
    }
    // No character count is needed while the bytes fit (a character takes
    // one or more).
    bool fits = text.size() <= static_cast<std::size_t>(target.length) && !target.fixed;
    if (target.length > 0 && !fits) {
      std::size_t length = characterCount(text);
      std::size_t limit = static_cast<std::size_t>(target.length);
      bool number =
          sqlite3_value_type(v) == SQLITE_INTEGER || sqlite3_value_type(v) == SQLITE_FLOAT;
      if (length > limit && number) {
        throw DbError(
            "22003", 8115,
            "Arithmetic overflow error converting " +
                std::string(source.kind == SqlType::Kind::Numeric ? "numeric" : "expression") +
                " to data type varchar.");
      }
      if (length > limit) {
        std::size_t cut = utf8Offset(text, limit);
        if (strict && text.find_first_not_of(' ', cut) != std::string::npos) {
          throw truncationError();
        }
        text.resize(cut);
        length = limit;
      }
      if (target.fixed && length < limit) text.append(limit - length, ' ');
    }
    resultText(ctx, text);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

void add(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    int ta = sqlite3_value_type(argv[0]);
    int tb = sqlite3_value_type(argv[1]);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL) return sqlite3_result_null(ctx);
    bool textA = ta == SQLITE_TEXT || ta == SQLITE_BLOB;
    bool textB = tb == SQLITE_TEXT || tb == SQLITE_BLOB;
    if (textA && textB) return resultText(ctx, textArg(argv[0]) + textArg(argv[1]));
    auto number = [&](sqlite3_value* v, bool isText, int otherType, NumberValue* out) {
      if (!isText) {
        out->integer = sqlite3_value_type(v) == SQLITE_INTEGER;
        out->intValue = sqlite3_value_int64(v);
        out->value = sqlite3_value_double(v);
        return;
      }
      SqlType target = otherType == SQLITE_INTEGER ? SqlType::integer() : SqlType::floating();
      *out = textToNumber(textArg(v), target);
    };
    NumberValue a, b;
    number(argv[0], textA, tb, &a);
    number(argv[1], textB, ta, &b);
    if (a.integer && b.integer) return sqlite3_result_int64(ctx, a.intValue + b.intValue);
    sqlite3_result_double(ctx, a.value + b.value);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

void getDate(sqlite3_context* ctx, int, sqlite3_value**) {
  resultText(ctx, storageText(localDateTimeNow()));
}

void dateDiff(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
      return sqlite3_result_null(ctx);
    }
    std::string part = textArg(argv[0]);
    DateOrder order = sessionOf(ctx)->dateOrder;
    DateTime a = toDateTime(argv[1], order);
    DateTime b = toDateTime(argv[2], order);
    long long da = dayNumber(a.year, a.month, a.day);
    long long db = dayNumber(b.year, b.month, b.day);
    long long r = 0;
    if (part == "YEAR")
      r = b.year - a.year;
    else if (part == "QUARTER")
      r = (b.year * 4LL + (b.month - 1) / 3) - (a.year * 4LL + (a.month - 1) / 3);
    else if (part == "MONTH")
      r = (b.year * 12LL + b.month) - (a.year * 12LL + a.month);
    else if (part == "DAY" || part == "DAYOFYEAR" || part == "WEEKDAY")
      r = db - da;
    else if (part == "WEEK")
      r = floorDiv(db + 1, 7) - floorDiv(da + 1, 7);
    else if (part == "HOUR")
      r = (db * 24 + b.hour) - (da * 24 + a.hour);
    else if (part == "MINUTE")
      r = (db * 1440 + b.hour * 60 + b.minute) - (da * 1440 + a.hour * 60 + a.minute);
    else if (part == "SECOND")
      r = (totalMilliseconds(b) / 1000) - (totalMilliseconds(a) / 1000);
    else if (part == "MILLISECOND")
      r = totalMilliseconds(b) - totalMilliseconds(a);
    else
      throw unknownPartError(part);
    sqlite3_result_int64(ctx, r);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

DateTime addMonths(DateTime dt, long long months) {
  long long total = dt.year * 12LL + (dt.month - 1) + months;
  dt.year = static_cast<int>(floorDiv(total, 12));
  dt.month = static_cast<int>(total - dt.year * 12LL) + 1;
  while (dt.day > 28 && !isValidDate(dt.year, dt.month, dt.day)) --dt.day;
  return dt;
}

void dateAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
      return sqlite3_result_null(ctx);
    }
    std::string part = textArg(argv[0]);
    long long n = static_cast<long long>(std::trunc(sqlite3_value_double(argv[1])));
    DateTime d = toDateTime(argv[2], sessionOf(ctx)->dateOrder);
    static const struct {
      const char* part;
      long long ms;
    } kSpans[] = {{"DAY", 86400000LL},      {"DAYOFYEAR", 86400000LL}, {"WEEKDAY", 86400000LL},
                  {"WEEK", 7 * 86400000LL}, {"HOUR", 3600000LL},       {"MINUTE", 60000LL},
                  {"SECOND", 1000LL},       {"MILLISECOND", 1LL}};
    if (part == "YEAR") return resultText(ctx, checkedStorage(addMonths(d, 12 * n)));
    if (part == "QUARTER") return resultText(ctx, checkedStorage(addMonths(d, 3 * n)));
    if (part == "MONTH") return resultText(ctx, checkedStorage(addMonths(d, n)));
    for (const auto& span : kSpans) {
      if (part == span.part) {
        return resultText(ctx,
                          checkedStorage(fromMilliseconds(totalMilliseconds(d) + n * span.ms)));
      }
    }
    throw unknownPartError(part);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

void addDays(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
      return sqlite3_result_null(ctx);
    }
    DateTime d = toDateTime(argv[0], sessionOf(ctx)->dateOrder);
    long long delta = std::llround(sqlite3_value_double(argv[1]) * 86400000.0);
    resultText(ctx, checkedStorage(fromMilliseconds(totalMilliseconds(d) + delta)));
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

void datePart(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string part = textArg(argv[0]);
    DateTime d = toDateTime(argv[1], sessionOf(ctx)->dateOrder);
    long long dn = dayNumber(d.year, d.month, d.day);
    long long yearStart = dayNumber(d.year, 1, 1);
    long long r = 0;
    if (part == "YEAR")
      r = d.year;
    else if (part == "QUARTER")
      r = (d.month - 1) / 3 + 1;
    else if (part == "MONTH")
      r = d.month;
    else if (part == "DAYOFYEAR")
      r = dn - yearStart + 1;
    else if (part == "DAY")
      r = d.day;
    else if (part == "WEEKDAY")
      r = (dn + 1) % 7 + 1;  // Sunday is 1
    else if (part == "WEEK")
      r = (dn - yearStart + (yearStart + 1) % 7) / 7 + 1;
    else if (part == "HOUR")
      r = d.hour;
    else if (part == "MINUTE")
      r = d.minute;
    else if (part == "SECOND")
      r = d.second;
    else if (part == "MILLISECOND")
      r = d.millisecond;
    else
      throw unknownPartError(part);
    sqlite3_result_int64(ctx, r);
  } catch (const DbError& e) {
    fail(ctx, e);
  }
}

}  // namespace

int compareText(int na, const void* pa, int nb, const void* pb) {
  const auto* a = static_cast<const unsigned char*>(pa);
  const auto* b = static_cast<const unsigned char*>(pb);
  while (na > 0 && a[na - 1] == ' ') --na;
  while (nb > 0 && b[nb - 1] == ' ') --nb;
  int i = 0, j = 0;
  while (i < na && j < nb) {
    // Two ASCII bytes, the common case: folded in place, as
    // foldedCodePoint() would.
    if ((a[i] | b[j]) < 0x80) {
      int fa = a[i], fb = b[j];
      ++i;
      ++j;
      if (fa == fb) continue;
      if (fa >= 'A' && fa <= 'Z') fa += 32;
      if (fb >= 'A' && fb <= 'Z') fb += 32;
      if (fa != fb) return fa < fb ? -1 : 1;
      continue;
    }
    int ca = foldedCodePoint(a, na, &i);
    int cb = foldedCodePoint(b, nb, &j);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < na) return 1;
  if (j < nb) return -1;
  return 0;
}

// tsql_hashbytes(x): the SHA-256 digest of x's bytes, as a blob.
void hashBytes(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const void* data = sqlite3_value_blob(argv[0]);
  int n = sqlite3_value_bytes(argv[0]);
  Sha256Digest digest =
      sha256(std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(n)));
  sqlite3_result_blob(ctx, digest.data(), static_cast<int>(digest.size()), SQLITE_TRANSIENT);
}

void registerEngineFunctions(sqlite3* db, SessionState* session) {
  struct Fn {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic;
  };
  static const Fn kFunctions[] = {
      {"tsql_todate", 1, toDate, true},        {"tsql_tonum", 2, toNumber, true},
      {"tsql_totext", 4, toText, true},        {"tsql_add", 2, add, true},
      {"tsql_getdate", 0, getDate, true},      {"tsql_datediff", 3, dateDiff, true},
      {"tsql_dateadd", 3, dateAdd, true},      {"tsql_adddays", 2, addDays, true},
      {"tsql_datepart", 2, datePart, true},    {"tsql_todate_style", 2, toDateStyled, true},
      {"tsql_datestyle", 2, dateStyled, true}, {"tsql_hashbytes", 1, hashBytes, true},
  };
  for (const Fn& f : kFunctions) {
    // Functions that read the DATEFORMAT are deterministic only within one
    // session; SQLite uses the flag within a statement, which is what holds.
    // GETDATE() too: SQLite then reads the clock once per statement (a
    // constant it hoists out of the row loop), which is SQL Server's rule,
    // where a statement that runs across midnight still sees one date.
    int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, f.name, f.args, flags, session, f.fn, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      throw engineError(std::string("cannot register ") + f.name + ": " + sqlite3_errmsg(db));
    }
  }
  if (sqlite3_create_collation_v2(db, kTextCollation, SQLITE_UTF8, nullptr, collate, nullptr) !=
      SQLITE_OK) {
    throw engineError(std::string("cannot register the text collation: ") + sqlite3_errmsg(db));
  }
}

}  // namespace agent::tsql
