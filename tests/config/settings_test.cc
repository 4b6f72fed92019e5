// The settings file, the password scrambling, the database-name rules, the
// connection strings and the remote account table.
#include <gtest/gtest.h>

#include "base/code_page.h"
#include "base/errors.h"
#include "base/remote_link.h"
#include "config/local_settings.h"
#include "config/platform_config.h"
#include "config/profile.h"
#include "config/remote_accounts.h"
#include "db/connection_string.h"

#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(LocalSettings, ReadAsTheWindowsProfileReaderDoesAndTheDatabaseNameRules) {
  Profile ini = Profile::parse(
      "; a comment\r\n[apath]\r\n  dbasepath =  SQLSRVR  \r\nServerName=srv;x\r\n"
      "[Other]\r\nkey=" +
      std::string(300, 'a') + "\r\n");
  EXPECT_EQ(ini.get("APATH", "DBASEPATH"), "SQLSRVR");  // names case-insensitive, blanks gone
  EXPECT_EQ(ini.get("APATH", "SERVERNAME"), "srv;x");   // a ";" inside a value is kept
  EXPECT_EQ(ini.get("APATH", "DBNAME"), "");            // a missing key reads as empty
  EXPECT_EQ(ini.get("Missing", "x", "d"), "d");
  EXPECT_EQ(ini.get("other", "key").size(), 254u);  // values cut to 254 characters
  // The local database's name from DBNAME.
  TempDir home;
  EXPECT_EQ(localDatabaseName("[College]", home.path()), "College]");
  EXPECT_EQ(localDatabaseName(" AB ", home.path()), "AB");
  EXPECT_EQ(localDatabaseName("X", home.path()), "ORBA");
  EXPECT_EQ(localDatabaseName("", home.path()), "ORBA");
  writeFile(home / "x019.pms", "");
  EXPECT_EQ(localDatabaseName("", home.path()), "ORBA_KLT");
  EXPECT_EQ(localDatabaseName("Y", home.path()), "ORBA_KLT");
}

TEST(Password, UnscramblesByShiftingEachCharacterDownByTheLengthAndRefusesImpossibleShifts) {
  // "secret" (6 characters) is stored shifted up by 6: "ykixkz".
  EXPECT_EQ(unscramblePassword("ykixkz"), "secret");
  EXPECT_EQ(unscramblePassword(""), "");
  for (std::string plain : {"Secret-1", "zzzzzz", "a b", "caf\xC3\xA9"}) {
    EXPECT_EQ(unscramblePassword(scramblePassword(plain)), plain);
  }
  // A "z" in a six-character password passes code 127: the settings file
  // holds a Windows-1252 byte above 127, read back as the same character.
  EXPECT_EQ(utf8ToWindows1252(scramblePassword("zzzzzz")),
            std::string(6, static_cast<char>('z' + 6)));
  // A stored character whose code is below the length gives no character;
  // characters that cannot be shifted within the code page are refused.
  EXPECT_THROW(unscramblePassword(std::string("\x01\x02\x03", 3)), AgentError);
  EXPECT_THROW(scramblePassword(std::string(3, '\xC3') + "\xBF\xC3\xBF"), AgentError);
  EXPECT_THROW(scramblePassword("\xE2\x82\xAC\xE4\xB8\x80"), AgentError);  // not in Windows-1252
}

// Every value platform.ini may not hold is refused with the key it names:
// a driver given as a path or with connection keywords, a separator that
// would break the export's quoting, hours and time-outs that are no
// positive number.
TEST(PlatformConfig, RefusedValuesNameTheirKey) {
  TempDir home;
  const std::pair<std::string, std::vector<const char*>> refused[] = {
      {"[upload]\nchanges_only", {"maybe"}},
      {"[upload]\nfull_every_hours", {"0", "6h", ""}},
      {"[drivers]\nSQL Server", {"sqlite"}},
      {"[drivers]\nMySQL ODBC 3.51 Driver",
       {"odbc:/tmp/evil.so", "odbc:C:\\evil.dll", "odbc:lib.so;X=1", "odbc:{x}", "odbc:a=b",
        "odbc:", "/tmp/evil.so"}},
      {"[regional]\ndate_separator", {"'", "\"", "\\", "a", "7", "--", "", "`"}},
      {"[regional]\ntime_separator", {"x"}},
      {"[regional]\ndecimal_separator", {"0"}},
      {"[remote]\nconnect_timeout", {"0"}},
      {"[remote]\nread_timeout", {"10s"}},
      {"[remote]\nwrite_timeout", {"-3", "", "86401"}},
      {"[remote]\ntls", {"tls"}}};
  for (const auto& [key, values] : refused) {
    for (const char* value : values) {
      writeFile(home / "platform.ini", key + " = " + value + "\n");
      try {
        PlatformConfig::load(home.path());
        ADD_FAILURE() << key << " = " << value << " was taken";
      } catch (const AgentError& e) {
        EXPECT_NE(e.description().find(key.substr(key.find('\n') + 1)), std::string::npos)
            << e.description();
      }
    }
  }
}

TEST(ConnectionStrings, DriverNameDecidesTheDriverAndInjectedValuesStayOneValue) {
  ConnectionString cs("Driver={SQL Server};Server=C:\\Data;Uid=SA;Pwd=a;b;");
  EXPECT_EQ(cs.driverName(), "SQL Server");
  EXPECT_EQ(*cs.get("server"), "C:\\Data");
  EXPECT_EQ(ConnectionString("Provider=msdaora.1.0; data source = X").driverName(), "msdaora.1.0");
  EXPECT_EQ(ConnectionString("DRIVER={MySQL ODBC 3.51 Driver};SERVER=h; OPTION=3")
                .withDriver("MariaDB Unicode"),
            "DRIVER={MariaDB Unicode};SERVER=h; OPTION=3");

  // Values an attacker could write into remote-accounts.ini or Ostrel.INI
  // stay one value and read back exactly.
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

TEST(RemoteLinkSettings, DefaultsAccountsOverridesAndKeywordsRoundTrip) {
  TempDir home;
  // Without platform.ini: full merges, every 24 hours for changes-only
  // runs, a verified server (the system's CAs), the default time-outs.
  PlatformConfig defaults = PlatformConfig::load(home.path());
  EXPECT_FALSE(defaults.changesOnly);
  EXPECT_EQ(defaults.fullEveryHours, 24);
  EXPECT_EQ(defaults.remote.tls, TlsMode::VerifyIdentity);
  EXPECT_TRUE(defaults.remote.tlsCa.empty());
  EXPECT_EQ(defaults.remote.connectTimeout, 30);
  EXPECT_EQ(defaults.remote.readTimeout, 600);
  EXPECT_EQ(defaults.remote.writeTimeout, 600);

  writeFile(home / "platform.ini",
            "[upload]\nchanges_only = YES\nfull_every_hours = 6\n"
            "[regional]\ndate_separator = -\ntime_separator = .\ndecimal_separator = ,\n"
            "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = MariaDB\n"
            "Oracle = odbc:MariaDB ODBC 3.1 Driver\n[remote]\ntls = Verify-Identity\n"
            "tls_ca = certs/ca.pem\nconnect_timeout = 5\nread_timeout = 70\nwrite_timeout = 80\n");
  PlatformConfig config = PlatformConfig::load(home.path());
  EXPECT_TRUE(config.changesOnly);
  EXPECT_EQ(config.fullEveryHours, 6);
  EXPECT_EQ(config.regional.dateSeparator, "-");
  EXPECT_EQ(config.regional.decimalSeparator, ",");
  EXPECT_EQ(config.drivers.resolve("sql server").kind, DriverTarget::Kind::Embedded);
  EXPECT_EQ(config.drivers.resolve("mysql odbc 3.51 driver").kind, DriverTarget::Kind::MariaDb);
  EXPECT_EQ(config.drivers.resolve("ORACLE").odbcName, "MariaDB ODBC 3.1 Driver");
  EXPECT_EQ(config.drivers.resolve("Other").odbcName, "Other");  // unmapped: unchanged
  EXPECT_EQ(config.remote.tls, TlsMode::VerifyIdentity);
  EXPECT_EQ(config.remote.tlsCa, home.path() / "certs/ca.pem");
  EXPECT_EQ(config.remote.writeTimeout, 80);

  // An account is found by its exact code; its keys win over platform.ini's,
  // an unknown mode is refused.
  writeFile(home / kRemoteAccountsFileName,
            "[P001]\nuser = hostacct_abcu\npassword = secret\nserver = portal.example.org\n"
            "database = hostacct_qora_abc\n");
  RemoteAccounts accounts = RemoteAccounts::load(home / kRemoteAccountsFileName);
  auto row = accounts.find("P001");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->user, "hostacct_abcu");
  EXPECT_EQ(row->database, "hostacct_qora_abc");
  EXPECT_FALSE(accounts.find("p001"));
  EXPECT_FALSE(accounts.find("P01"));
  EXPECT_FALSE(accounts.find(""));
  EXPECT_TRUE(accounts.find("P028"));  // in the table, values empty
  RemoteLink account = overrideLink(config.remote, "off", "", "f: [P001]", home.path());
  EXPECT_EQ(account.tls, TlsMode::Off);
  EXPECT_EQ(account.connectTimeout, 5);
  EXPECT_THROW(overrideLink(config.remote, "sometimes", "", "f: [P001]", home.path()), AgentError);
  EXPECT_THROW(overrideLink(RemoteLink{}, "verify-ca", "", "f: [P001]", home.path()), AgentError);
  // The keywords both drivers read give back the same link, a CA path
  // holding ";" and "}" included.
  RemoteLink link = config.remote;
  link.tls = TlsMode::VerifyCa;
  link.tlsCa = "/certs/a;b}c.pem";
  ConnectionString cs("DRIVER={MySQL ODBC 3.51 Driver};SERVER=h" + linkKeywords(link));
  RemoteLink back = linkFromConnectionString(cs);
  EXPECT_EQ(back.tls, TlsMode::VerifyCa);
#ifdef _WIN32
  // Under Wine the driver is handed the name the host system knows the
  // file by: only the file name stays as written.
  EXPECT_EQ(back.tlsCa.filename(), link.tlsCa.filename());
#else
  EXPECT_EQ(back.tlsCa, link.tlsCa);
#endif
  EXPECT_EQ(back.readTimeout, 70);
}

}  // namespace
}  // namespace agent
