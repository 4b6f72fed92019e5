// The settings file, the password scrambling, the database-name rules, the
// connection strings and the remote account table.
#include <gtest/gtest.h>

#include "base/code_page.h"
#include "config/local_settings.h"
#include "config/platform_config.h"
#include "config/profile.h"
#include "config/remote_accounts.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(Profile, ReadsAsTheWindowsProfileReaderDoes) {
  Profile ini = Profile::parse(
      "; a comment\r\n[apath]\r\n  dbasepath =  SQLSRVR  \r\nServerName=srv;x\r\n"
      "[Other]\r\nkey=" +
      std::string(300, 'a') + "\r\n");
  EXPECT_EQ(ini.get("APATH", "DBASEPATH"), "SQLSRVR");  // names case-insensitive, blanks gone
  EXPECT_EQ(ini.get("APATH", "SERVERNAME"), "srv;x");   // a ";" inside a value is kept
  EXPECT_EQ(ini.get("APATH", "DBNAME"), "");            // a missing key reads as empty
  EXPECT_EQ(ini.get("Missing", "x", "d"), "d");
  EXPECT_EQ(ini.get("other", "key").size(), 254u);  // values cut to 254 characters
}

TEST(Password, UnscramblesByShiftingEachCharacterDownByTheLength) {
  // "secret" (6 characters) is stored shifted up by 6: "ykixkz".
  EXPECT_EQ(unscramblePassword("ykixkz"), "secret");
  EXPECT_EQ(unscramblePassword(""), "");
  // Scrambling round-trips. (That a second start-up reads the same plain
  // password, not a doubly shifted one, is proven by the cycle tests, which
  // log in twice from one settings file.)
  for (std::string plain : {"Secret-1", "zzzzzz", "a b", "caf\xC3\xA9"}) {
    EXPECT_EQ(unscramblePassword(scramblePassword(plain)), plain);
  }
  // A "z" in a six-character password passes code 127: the settings file
  // holds a Windows-1252 byte above 127, read back as the same character.
  std::string stored = scramblePassword("zzzzzz");
  EXPECT_EQ(utf8ToWindows1252(stored), std::string(6, static_cast<char>('z' + 6)));
}

TEST(Password, ImpossibleShiftsAreErrors) {
  // A stored character whose code is below the length gives no character.
  EXPECT_THROW(unscramblePassword(std::string("\x01\x02\x03", 3)), AgentError);
  // Characters that cannot be shifted within the code page are refused.
  EXPECT_THROW(scramblePassword(std::string(3, '\xC3') + "\xBF\xC3\xBF"), AgentError);
  EXPECT_THROW(scramblePassword("\xE2\x82\xAC\xE4\xB8\x80"), AgentError);  // not in Windows-1252
}

TEST(LocalSettings, ReadsTheFourKeysFromTheSettingsFile) {
  TempDir home;
  EXPECT_FALSE(readLocalSettings(home.path() / kSettingsFileName));
  writeFile(home / kSettingsFileName,
            "[APATH]\r\nDBASEPATH= SQLSRVR \r\nSERVERNAME=OFFICE\\SQL\r\nPASSWORD=ykixkz\r\n");
  auto s = readLocalSettings(home.path() / kSettingsFileName);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->dbType, "SQLSRVR");
  EXPECT_EQ(s->serverName, "OFFICE\\SQL");
  EXPECT_EQ(s->password, "ykixkz");
  EXPECT_EQ(s->dbName, "");
}

TEST(LocalSettings, DatabaseNameRules) {
  TempDir home;
  EXPECT_EQ(localDatabaseName("[College]", home.path()), "College]");
  EXPECT_EQ(localDatabaseName(" AB ", home.path()), "AB");
  EXPECT_EQ(localDatabaseName("X", home.path()), "ORBA");
  EXPECT_EQ(localDatabaseName("", home.path()), "ORBA");
  writeFile(home / "x019.pms", "");
  EXPECT_EQ(localDatabaseName("", home.path()), "ORBA_KLT");
  EXPECT_EQ(localDatabaseName("Y", home.path()), "ORBA_KLT");
}

TEST(ConnectionStrings, DriverNameDecidesTheDriver) {
  ConnectionString cs("Driver={SQL Server};Server=C:\\Data;Uid=SA;Pwd=a;b;");
  EXPECT_EQ(cs.driverName(), "SQL Server");
  EXPECT_EQ(*cs.get("server"), "C:\\Data");
  EXPECT_EQ(ConnectionString("Provider=msdaora.1.0; data source = X").driverName(), "msdaora.1.0");
  EXPECT_EQ(ConnectionString("DRIVER={MySQL ODBC 3.51 Driver};SERVER=h; OPTION=3")
                .withDriver("MariaDB Unicode"),
            "DRIVER={MariaDB Unicode};SERVER=h; OPTION=3");

  TempDir home;
  writeFile(home / "platform.ini",
            "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MariaDB Unicode\n");
  PlatformConfig config = PlatformConfig::load(home.path());
  EXPECT_EQ(config.drivers.resolve("sql server").kind, DriverTarget::Kind::Embedded);
  EXPECT_EQ(config.drivers.resolve("MySQL ODBC 3.51 Driver").odbcName, "MariaDB Unicode");
  EXPECT_EQ(config.drivers.resolve("Other").odbcName, "Other");  // unmapped: unchanged
  writeFile(home / "platform.ini", "[drivers]\nSQL Server = sqlite\n");
  EXPECT_THROW(PlatformConfig::load(home.path()), AgentError);
}

TEST(RemoteAccounts, LooksUpTheExactCodeOnly) {
  TempDir home;
  writeFile(home / kRemoteAccountsFileName,
            "[P001]\nuser = hostacct_abcu\npassword = secret\nserver = portal.example.org\n"
            "database = hostacct_qora_abc\n[P999]\nuser = x\n");
  std::vector<std::string> warnings;
  RemoteAccounts accounts = RemoteAccounts::load(home.path() / kRemoteAccountsFileName, &warnings);
  auto row = accounts.find("P001");
  ASSERT_TRUE(row);
  EXPECT_EQ(remoteConnectionString(row->server, row->database, row->user, row->password),
            "DRIVER={MySQL ODBC 3.51 Driver};SERVER=portal.example.org;"
            "DATABASE=hostacct_qora_abc;UID=hostacct_abcu;PWD=secret; OPTION=3");
  EXPECT_FALSE(accounts.find("p001"));
  EXPECT_FALSE(accounts.find("P01"));
  EXPECT_FALSE(accounts.find(""));
  EXPECT_TRUE(accounts.find("P028"));  // in the table, values empty
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("[P999]"), std::string::npos);
}

TEST(DbError, NumbersFollowTheSqlState) {
  EXPECT_EQ(DbError("42S02", 208, "x").number(), -2147217865);
  EXPECT_EQ(DbError("23000", 2627, "x").number(), -2147217873);
  EXPECT_EQ(DbError("22007", 241, "x").number(), -2147217913);
  EXPECT_EQ(DbError("42S01", 2714, "x").number(), -2147217900);
  EXPECT_EQ(DbError("37000", 102, "x").number(), -2147217900);
  for (const char* s : {"08001", "28000", "HY000", "IM002", "01000"}) {
    EXPECT_EQ(DbError(s, 0, "x").number(), -2147467259) << s;
  }
}

}  // namespace
}  // namespace agent
