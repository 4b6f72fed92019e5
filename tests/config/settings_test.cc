// The settings file, the password scrambling, the database-name rules, the
// connection strings and the remote account table.
#include <gtest/gtest.h>

#include "base/code_page.h"
#include "base/remote_link.h"
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

TEST(PlatformConfig, ChangeDetectionIsOffUnlessAskedForAndItsHoursAreChecked) {
  TempDir home;
  PlatformConfig defaults = PlatformConfig::load(home.path());
  EXPECT_FALSE(defaults.changesOnly);
  EXPECT_EQ(defaults.fullEveryHours, 24);
  writeFile(home / "platform.ini", "[upload]\nchanges_only = YES\nfull_every_hours = 6\n");
  PlatformConfig on = PlatformConfig::load(home.path());
  EXPECT_TRUE(on.changesOnly);
  EXPECT_EQ(on.fullEveryHours, 6);
  for (const char* bad : {"changes_only = maybe", "full_every_hours = 0", "full_every_hours = 6h",
                          "full_every_hours ="}) {
    writeFile(home / "platform.ini", std::string("[upload]\n") + bad + "\n");
    EXPECT_THROW(PlatformConfig::load(home.path()), AgentError) << bad;
  }
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

TEST(ConnectionStrings, InjectedSettingsValuesStayOneValueAndReadBackExactly) {
  // Values an attacker could write into remote-accounts.ini or Ostrel.INI.
  const std::string server = "127.0.0.1;DRIVER=/tmp/evil.so";
  const std::string password = "p}w;d{=x}}";
  ConnectionString remote(remoteConnectionString(server, "db;OPTION=0", "u", password, "3306"));
  EXPECT_EQ(remote.driverName(), "MySQL ODBC 3.51 Driver");
  EXPECT_EQ(*remote.get("SERVER"), server);
  EXPECT_EQ(*remote.get("DATABASE"), "db;OPTION=0");
  EXPECT_EQ(*remote.get("PWD"), password);
  EXPECT_EQ(*remote.get("OPTION"), "3");
  ConnectionString local(sqlServerConnectionString("OFFICE;Driver={X}", password));
  EXPECT_EQ(local.driverName(), "SQL Server");
  EXPECT_EQ(*local.get("Server"), "OFFICE;Driver={X}");
  EXPECT_EQ(*local.get("Pwd"), password);
  EXPECT_EQ(*ConnectionString(oracleConnectionString("X; provider=evil")).get("data source"),
            "X; provider=evil");
  EXPECT_EQ(ConnectionString("Driver={a}}b};Server={}").withDriver("c}"), "Driver={c}}};Server={}");
}

TEST(PlatformSettings, OdbcTakesADriverNameOnlyAndSeparatorsOneHarmlessCharacter) {
  TempDir home;
  for (const char* value : {"odbc:/tmp/evil.so", "odbc:C:\\evil.dll", "odbc:lib.so;X=1", "odbc:{x}",
                            "odbc:a=b", "odbc:", "/tmp/evil.so"}) {
    writeFile(home / "platform.ini", std::string("[drivers]\nMySQL ODBC 3.51 Driver = ") + value);
    try {
      PlatformConfig::load(home.path());
      ADD_FAILURE() << value << " was taken";
    } catch (const AgentError& e) {
      EXPECT_NE(e.description().find("MySQL ODBC 3.51 Driver"), std::string::npos);
    }
  }
  for (const char* value : {"'", "\"", "\\", "a", "7", "--", "", "`"}) {
    writeFile(home / "platform.ini", std::string("[regional]\ndate_separator = ") + value);
    try {
      PlatformConfig::load(home.path());
      ADD_FAILURE() << "date separator " << value << " was taken";
    } catch (const AgentError& e) {
      EXPECT_NE(e.description().find("date_separator"), std::string::npos) << e.description();
    }
  }
  writeFile(home / "platform.ini", "[regional]\ntime_separator = x\n");
  EXPECT_THROW(PlatformConfig::load(home.path()), AgentError);
  writeFile(home / "platform.ini", "[regional]\ndecimal_separator = 0\n");
  EXPECT_THROW(PlatformConfig::load(home.path()), AgentError);
  writeFile(home / "platform.ini",
            "[regional]\ndate_separator = -\ntime_separator = .\ndecimal_separator = ,\n"
            "[drivers]\nMySQL ODBC 3.51 Driver = odbc:MariaDB ODBC 3.1 Driver\n");
  PlatformConfig config = PlatformConfig::load(home.path());
  EXPECT_EQ(config.regional.dateSeparator, "-");
  EXPECT_EQ(config.regional.decimalSeparator, ",");
  EXPECT_EQ(config.drivers.resolve("MySQL ODBC 3.51 Driver").odbcName, "MariaDB ODBC 3.1 Driver");
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
            "DRIVER={MySQL ODBC 3.51 Driver};SERVER={portal.example.org};"
            "DATABASE={hostacct_qora_abc};UID={hostacct_abcu};PWD={secret}; OPTION=3");
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

TEST(RemoteLinkSettings, PlatformDefaultAccountOverrideAndKeywordsRoundTrip) {
  TempDir home;
  // Without [remote]: a verified server (the system's CAs), the default
  // time-outs.
  PlatformConfig plain = PlatformConfig::load(home.path());
  EXPECT_EQ(plain.remote.tls, TlsMode::VerifyIdentity);
  EXPECT_TRUE(plain.remote.tlsCa.empty());
  EXPECT_EQ(plain.remote.connectTimeout, 30);
  EXPECT_EQ(plain.remote.readTimeout, 600);
  EXPECT_EQ(plain.remote.writeTimeout, 600);

  writeFile(home / "platform.ini",
            "[drivers]\nMySQL ODBC 3.51 Driver = MariaDB\n[remote]\ntls = Verify-Identity\n"
            "tls_ca = certs/ca.pem\nconnect_timeout = 5\nread_timeout = 70\nwrite_timeout = 80\n");
  PlatformConfig config = PlatformConfig::load(home.path());
  EXPECT_EQ(config.drivers.resolve("mysql odbc 3.51 driver").kind, DriverTarget::Kind::MariaDb);
  EXPECT_EQ(config.remote.tls, TlsMode::VerifyIdentity);
  EXPECT_EQ(config.remote.tlsCa, home.path() / "certs/ca.pem");
  EXPECT_EQ(config.remote.writeTimeout, 80);

  // An account's keys win; an unknown mode names the place and key.
  RemoteLink account = overrideLink(config.remote, "off", "", "f: [P001]", home.path());
  EXPECT_EQ(account.tls, TlsMode::Off);
  EXPECT_EQ(account.connectTimeout, 5);
  try {
    overrideLink(config.remote, "sometimes", "", "f: [P001]", home.path());
    ADD_FAILURE() << "an unknown mode was taken";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.description(),
              "f: [P001] tls = sometimes: expected off, required, verify-ca or "
              "verify-identity");
  }
  EXPECT_THROW(overrideLink(RemoteLink{}, "verify-ca", "", "f: [P001]", home.path()), AgentError);
  for (const char* bad : {"connect_timeout = 0", "read_timeout = 10s", "write_timeout = -3",
                          "write_timeout =", "write_timeout = 86401", "tls = tls"}) {
    writeFile(home / "platform.ini", std::string("[remote]\n") + bad + "\n");
    EXPECT_THROW(PlatformConfig::load(home.path()), AgentError) << bad;
  }

  // The keywords both drivers read give back the same link, a CA path
  // holding ";" and "}" included.
  RemoteLink link = config.remote;
  link.tlsCa = "/certs/a;b}c.pem";
  for (TlsMode mode :
       {TlsMode::Off, TlsMode::Required, TlsMode::VerifyCa, TlsMode::VerifyIdentity}) {
    link.tls = mode;
    ConnectionString cs("DRIVER={MySQL ODBC 3.51 Driver};SERVER=h" + linkKeywords(link));
    RemoteLink back = linkFromConnectionString(cs);
    EXPECT_EQ(back.tls, mode) << tlsModeName(mode);
#ifdef _WIN32
    // Under Wine the driver is handed the name the host system knows the
    // file by: only the file name stays as written.
    EXPECT_EQ(back.tlsCa.filename(),
              link.verified() ? link.tlsCa.filename() : std::filesystem::path())
        << tlsModeName(mode);
#else
    EXPECT_EQ(back.tlsCa, link.verified() ? link.tlsCa : std::filesystem::path())
        << tlsModeName(mode);
#endif
    EXPECT_EQ(back.connectTimeout, 5);
    EXPECT_EQ(back.readTimeout, 70);
    EXPECT_EQ(*cs.get("server"), "h");
  }
  EXPECT_EQ(*ConnectionString("PWD={a}}b;c};UID=u").get("pwd"), "a}b;c");
  EXPECT_EQ(*ConnectionString("PWD={a}}b;c};UID=u").get("uid"), "u");
}

}  // namespace
}  // namespace agent
