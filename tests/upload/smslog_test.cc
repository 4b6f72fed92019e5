// The SMS log against the embedded local database and the remote server:
// the enclosed export line, the newest 9999 due messages per cycle, every
// message arriving whole whatever it holds, and the local mark after the
// load.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include <fmt/format.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/clean_string.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

// A due message; every argument is a SQL literal.
struct Message {
  std::string fdate = "'2024-03-05'";
  std::string ftime = "'10:00'";
  std::string text = "'Fee due'";
  std::string guid = "NULL";
  std::string degree = "'BSC'";
  std::string mobile = "'9845000000'";
  std::string status = "'success'";
  std::string upload = "NULL";
};

// A line of UPSMS.csv: the fields in double quotes, joined by "|".
std::string smsLine(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "\"" : "|\"") + field + "\"";
  return line + "\r\n";
}

class SmsLogTest : public testing::MirrorFixture {
 protected:
  void add(const Message& m) {
    local(
        "insert into smslog (fdate, ftime, fusername, fmessage, fstatus, fguid, fscreentype, "
        "fadmno, fdegree, fmobileno, fupload) values (" +
        m.fdate + ", " + m.ftime + ", 'office', " + m.text + ", " + m.status + ", " + m.guid +
        ", 'FEES', 'S1', " + m.degree + ", " + m.mobile + ", " + m.upload + ")");
  }
  std::string localCount(const std::string& where) {
    auto rows = localDb_.connection().query("select count(*) AS N from smslog where " + where);
    return std::to_string(static_cast<long>(rows->field("N").numberValue()));
  }
  // One run of the stage as a cycle gives it: the temporary table of the
  // previous run is dropped when met.
  std::size_t runStage() {
    recorded_.clear();
    return uploadSmsLog(cycleCtx_);
  }

  CycleContext cycleCtx_ = cycleContext();
};

TEST_F(SmsLogTest, FieldsAreEnclosedWithTheMessageCleanedAndADotForNoDegree) {
  add({.fdate = "'2024-03-05 09:30'",
       .ftime = "'09:30 AM'",
       .text = "'  Fee\r\n due   today '",
       .guid = "'G1'",
       .degree = "NULL"});
  add({.fdate = "NULL", .text = "NULL", .guid = "'G2'", .degree = "''", .mobile = "'9846'"});
  add({.fdate = "'2024-03-06'", .guid = "'G3'", .degree = "' '"});
  add({.guid = "'G4'", .status = "'failed'"});
  add({.guid = "'G5'", .upload = "'T'"});

  EXPECT_EQ(runStage(), 3u);
  EXPECT_EQ(exportFile("UPSMS.csv"),
            smsLine({"", "10:00", "office", "", "success", "G2", "FEES", "S1", ".", "9846", "F"}) +
                smsLine({"2024-03-05", "09:30 AM", "office", "Fee due today", "success", "G1",
                         "FEES", "S1", ".", "9845000000", "F"}) +
                smsLine({"2024-03-06", "10:00", "office", "Fee due", "success", "G3", "FEES", "S1",
                         " ", "9845000000", "F"}));
  // The staging table goes with the stage.
  EXPECT_EQ(remoteStatements().back(), "drop table if exists tmpsmslog");
  EXPECT_EQ(remoteRows("select fguid, fmessage, fdegree, fmobile, fdeleted from smslog where "
                       "fguid <> 'G2' order by fguid"),
            "G1|Fee due today|.|9845000000|F\nG3|Fee due| |9845000000|F");
  EXPECT_EQ(localCount("fupload = 'T'"), "4");  // G1, G2, G3 and the earlier G5
}

// Of 12000 due messages the newest 9999 are taken first, the rest in the
// next cycle. The oldest thousand hold quotes, pipes and line breaks and
// arrive whole; two without a guid are sent every cycle and never marked
// (the repeats are not added).
TEST_F(SmsLogTest, TheNewest9999FirstEveryMessageWholeAndOnlyThoseWithAGuidMarked) {
  std::string expected;  // of the thousand
  local("BEGIN TRANSACTION");
  for (int k = 0; k < 12000; ++k) {  // dated k minutes after New Year
    const std::string guid = fmt::format("G{:05d}", k);
    std::string text = k >= 1000 ? "Fee due"
                                 : "Dear \"Parent\" | fee " + std::to_string(k) +
                                       " due\r\nRs 500\\- it''s \"\"final\"\"\r\n|\"";
    add({.fdate = fmt::format("DATEADD(mi, {}, '2024-01-01')", k),
         .text = "'" + text + "'",
         .guid = "'" + guid + "'"});
    for (std::size_t p; (p = text.find("''")) != std::string::npos;) text.erase(p, 1);
    if (k < 1000) expected += (expected.empty() ? "" : "\n") + guid + "|" + cleanString(text);
  }
  local("COMMIT");
  add({.fdate = "'2023-12-31'", .text = "'no id'", .guid = "''"});
  add({.fdate = "'2023-12-31'", .text = "'no id either'", .guid = "NULL", .mobile = "'9846'"});

  EXPECT_EQ(runStage(), 9999u);
  EXPECT_EQ(remote("select count(*) from smslog"), "9999");
  // The 2001 oldest are left for the next cycle.
  EXPECT_EQ(localCount("fupload is null and fdate < DATEADD(mi, 2001, '2024-01-01')"), "2003");
  EXPECT_EQ(localCount("fupload is null"), "2003");
  // The file runs from the oldest selected to the newest.
  const std::string file = exportFile("UPSMS.csv");
  EXPECT_EQ(file.substr(0, file.find("\r\n") + 2),
            smsLine({"2024-01-02", "10:00", "office", "Fee due", "success", "G02001", "FEES", "S1",
                     "BSC", "9845000000", "F"}));
  EXPECT_EQ(runStage(), 2003u);
  EXPECT_EQ(remoteRows("select fguid, fmessage from smslog where fguid like 'G00%' order by fguid"),
            expected);
  EXPECT_EQ(remote("select count(distinct fguid) from smslog where fdeleted = 'F'"), "12001");
  EXPECT_EQ(runStage(), 2u);
  EXPECT_EQ(localCount("fupload is null"), "2");
  EXPECT_EQ(remote("select count(*) from smslog"), "12002");
}

}  // namespace
}  // namespace agent
