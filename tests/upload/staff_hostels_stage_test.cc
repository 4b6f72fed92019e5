// Staff and hostel tables against the real remote server.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class StaffHostelsStageTest : public testing::MirrorFixture {};

TEST_F(StaffHostelsStageTest, AnEmployeeKeepsTheDesignationItWasFirstLoadedWith) {
  remoteDb_.execute("insert into masemp values ('E1', 'Old', '111', 'old@x', 'Clerk', 'T')");
  insertLocal("masemp (fempcode, fempname, fmobile, femail, fdegncode)",
              {"'E1', 'New', '222', 'new@x', 'Head'", "'E2', 'Second', NULL, NULL, 'Lect'"});
  EXPECT_EQ(uploadEmployees(ctx_), 2u);
  EXPECT_EQ(exportFile("UPMASEMP.csv"), "E1|New|222|new@x|Head|F\r\nE2|Second|||Lect|F\r\n");
  EXPECT_EQ(remoteRows("select * from masemp order by fempcode"),
            "E1|New|222|new@x|Clerk|T\nE2|Second|||Lect|F");
}

TEST_F(StaffHostelsStageTest, HostelFilesAreLowerCaseAndRoomTypesGoToHostroomtype) {
  insertLocal("hosthead (fhostcode, fhostname, ffloors, frooms, forder)",
              {"'H1', 'North', 3, 40, 1", "'H2', 'South', 2, 20, 2"});
  local("insert into roomtype (froomtype, fdescpn, forder) values ('AC', 'Air cooled', 1)");
  insertLocal(
      "hostrooms (fhostcode, froomno, froomdesc, ffloorno, froomtype, fcapacity, ffee, forder)",
      {"'H1', '101', 'Corner', '1', 'AC', 2, 1500.50, 1",
       "'H2', '101', NULL, '1', 'AC', 3, 1200, 1"});

  uploadHostels(ctx_);
  uploadRoomTypes(ctx_);
  uploadRooms(ctx_);

  EXPECT_EQ(exportFile("uphosthead.csv"), "H1|North|3|40|1|F\r\nH2|South|2|20|2|F\r\n");
  EXPECT_EQ(exportFile("uproomtype.csv"), "AC|Air cooled|1|F\r\n");
  EXPECT_EQ(exportFile("uphostrooms.csv"),
            "H1|101|Corner|1|AC|2|1500.5|1|F\r\nH2|101||1|AC|3|1200|1|F\r\n");
  EXPECT_EQ(remoteRows("select * from hostroomtype"), "AC|Air cooled|1|F");
  EXPECT_EQ(remoteRows("select fhostcode, froomno, ffee from hostrooms order by fhostcode"),
            "H1|101|1500.50\nH2|101|1200.00");
}

}  // namespace
}  // namespace agent
