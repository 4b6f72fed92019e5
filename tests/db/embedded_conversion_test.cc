// The engine's text-to-date and text-to-number conversions and its text
// collation, case by case, as SQL Server gives them; its SHA-256 against the
// standard's test messages, on the processor's SHA instructions where it
// has them and without them alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "db/embedded/date_conversion.h"
#include "db/embedded/sha256.h"
#include "db/embedded/sqlite_functions.h"
#include "db/embedded/value_conversion.h"
#include "db/error.h"

namespace agent::tsql {
namespace {

struct DateCase {
  const char* text;
  DateOrder order;
  const char* stored;  // nullptr: malformed; "range": impossible date
};

TEST(EngineDateText, ReadsEachFormSqlServerReads) {
  const DateCase kCases[] = {
      {"05/03/2024", DateOrder::DMY, "2024-03-05T00:00:00.000"},
      {"05/03/2024", DateOrder::MDY, "2024-05-03T00:00:00.000"},
      {"2024/03/05", DateOrder::YMD, "2024-03-05T00:00:00.000"},
      {"05-03-24", DateOrder::DMY, "2024-03-05T00:00:00.000"},
      {"05.03.75", DateOrder::DMY, "1975-03-05T00:00:00.000"},
      {"2024-03-05", DateOrder::DMY, "2024-05-03T00:00:00.000"},
      {"2024-03-05", DateOrder::MDY, "2024-03-05T00:00:00.000"},
      {"20240305", DateOrder::DMY, "2024-03-05T00:00:00.000"},
      {"20240305 10:30", DateOrder::MDY, "2024-03-05T10:30:00.000"},
      {"2024-03-05T10:30:15.5", DateOrder::DMY, "2024-03-05T10:30:15.500"},
      {"05/03/2024 10:30:00", DateOrder::DMY, "2024-03-05T10:30:00.000"},
      {"05/03/2024 12:00:00 AM", DateOrder::DMY, "2024-03-05T00:00:00.000"},
      {"5/3/2024 1:05 pm", DateOrder::DMY, "2024-03-05T13:05:00.000"},
      {"Mar  5 2024 10:30AM", DateOrder::DMY, "2024-03-05T10:30:00.000"},
      {"5 March 2024", DateOrder::MDY, "2024-03-05T00:00:00.000"},
      {"  05/03/2024  ", DateOrder::DMY, "2024-03-05T00:00:00.000"},
      {"", DateOrder::DMY, "1900-01-01T00:00:00.000"},
      {"10:30", DateOrder::DMY, "1900-01-01T10:30:00.000"},
      {"31/02/2024", DateOrder::DMY, "range"},
      {"29/02/2023", DateOrder::DMY, "range"},
      {"01/01/1700", DateOrder::DMY, "range"},
      {"13/13/2024", DateOrder::DMY, "range"},
      {"abc", DateOrder::DMY, nullptr},
      {"05/03", DateOrder::DMY, nullptr},
      {"05/03/2024 25:00", DateOrder::DMY, nullptr},
      {"05/03/2024x", DateOrder::DMY, nullptr},
  };
  for (const DateCase& c : kCases) {
    SCOPED_TRACE(c.text);
    DateParse p = parseDateText(c.text, c.order);
    if (c.stored == nullptr) {
      EXPECT_EQ(p.status, DateParse::Status::Malformed);
    } else if (std::strcmp(c.stored, "range") == 0) {
      EXPECT_EQ(p.status, DateParse::Status::OutOfRange);
    } else {
      ASSERT_EQ(p.status, DateParse::Status::Ok);
      EXPECT_EQ(storageText(p.value), c.stored);
      EXPECT_EQ(parseStorageText(c.stored), p.value);
    }
  }
}

TEST(EngineDateText, DayNumbersRoundTripAcrossCenturies) {
  EXPECT_EQ(dayNumber(1900, 1, 1), 0);
  EXPECT_EQ(dayNumber(1899, 12, 31), -1);
  for (long long n : {-60000LL, -1LL, 0LL, 59LL, 60LL, 45000LL, 2958463LL}) {
    DateTime d = fromDayNumber(n);
    EXPECT_EQ(dayNumber(d.year, d.month, d.day), n);
  }
  EXPECT_EQ(canonicalDatePart("yyyy"), "YEAR");
  EXPECT_EQ(canonicalDatePart("fortnight"), "");
}

TEST(EngineNumberText, ConvertsAsVarcharToEachNumberType) {
  EXPECT_EQ(textToNumber(" 42 ", SqlType::integer()).intValue, 42);
  EXPECT_EQ(textToNumber("", SqlType::integer()).intValue, 0);
  EXPECT_DOUBLE_EQ(textToNumber("-1500.505", SqlType::numeric(12, 2)).value, -1500.51);
  EXPECT_DOUBLE_EQ(textToNumber("1e3", SqlType::floating()).value, 1000);
  EXPECT_THROW(textToNumber("1.5", SqlType::integer()), DbError);
  EXPECT_THROW(textToNumber("", SqlType::numeric(12, 2)), DbError);
  EXPECT_THROW(textToNumber("1e3", SqlType::numeric(12, 2)), DbError);
  EXPECT_THROW(textToNumber("nan", SqlType::floating()), DbError);
  EXPECT_EQ(fixedText(1500.5, 2), "1500.50");
  EXPECT_EQ(fixedText(-0.001, 2), "0.00");
  EXPECT_EQ(floatText(0.1), "0.1");
}

int compare(const char* a, const char* b) {
  return compareText(static_cast<int>(std::strlen(a)), a, static_cast<int>(std::strlen(b)), b);
}

TEST(EngineCollation, IgnoresCaseAndTrailingBlanksOnly) {
  EXPECT_EQ(compare("xx", "XX "), 0);
  EXPECT_EQ(compare("ONLINE", "online"), 0);
  EXPECT_EQ(compare("", "   "), 0);
  EXPECT_EQ(compare("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"), 0);  // Été, éTÉ
  EXPECT_LT(compare(" a", "a"), 0);                                 // leading blanks count
  EXPECT_LT(compare("a", "B"), 0);
  EXPECT_GT(compare("b", "A"), 0);
  EXPECT_LT(compare("ab", "abc"), 0);
  EXPECT_NE(compare("e", "\xC3\xA9"), 0);    // accents count
  EXPECT_LT(compare("_", "A"), 0);           // letters compare as lower case
  EXPECT_LT(compare("Az", "a\xC3\xA9"), 0);  // z before é, past a folded pair
}

std::string hex(const Sha256Digest& digest) {
  std::string out;
  for (std::uint8_t b : digest) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

TEST(Sha256, GivesTheStandardsDigestsWithAndWithoutShaInstructions) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the last block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex(sha256(c.message)), c.digest) << c.message.size() << " bytes";
    EXPECT_EQ(hex(sha256Portable(c.message)), c.digest) << c.message.size() << " bytes";
  }
  // Every length around the block boundaries, both ways alike.
  std::string message;
  for (int length = 0; length < 300; ++length) {
    EXPECT_EQ(sha256(message), sha256Portable(message)) << length << " bytes";
    message += static_cast<char>('!' + (length * 37) % 90);
  }
}

}  // namespace
}  // namespace agent::tsql
