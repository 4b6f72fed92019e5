// The mirror descriptions are data; the statements made from them are what
// the portal has always been sent. Each table's column list and merge
// update, rendered, against the text the portal's tables were built for.
#include <gtest/gtest.h>

#include <string>

#include "upload/mirror_catalog.h"
#include "upload/mirror_description.h"

namespace agent {
namespace {

struct Rendered {
  const char* table;
  const char* columnList;
  const char* mergeUpdate;  // "": the stage sends statements of its own
};

const Rendered kRendered[] = {
    {"college", "fcollcode, fcollname, fadd1, fadd2, fadd3, fadd4, fattsession, fdeleted",
     "update college, tmpcollege set college.fcollname = tmpcollege.fcollname, "
     "college.fadd1 = tmpcollege.fadd1, college.fadd2 = tmpcollege.fadd2, college.fadd3 = "
     "tmpcollege.fadd3, college.fadd4 = tmpcollege.fadd4, college.fattsession = "
     "tmpcollege.fattsession where college.fcollcode = tmpcollege.fcollcode"},
    {"degree", "fdegree, fdescpn, fexamno, fexamname, fyear, fexamtype, fexamdate, fdeleted",
     "update degree, tmpdegree set degree.fdescpn = tmpdegree.fdescpn, degree.fexamname = "
     "tmpdegree.fexamname, degree.fyear = tmpdegree.fyear, degree.fexamtype = "
     "tmpdegree.fexamtype where degree.fdegree = tmpdegree.fdegree and degree.fexamno = "
     "tmpdegree.fexamno"},
    {"subject",
     "fdegree, fexamno, fsubcode, fsubname, fssubcode, fssubname, fcsubcode, fattsub, fth, "
     "fia, fretain, fcombclid, fdeleted",
     "update subject x1, tmpsubject x2 set x1.fsubname = x2.fsubname, x1.fssubname = "
     "x2.fssubname, x1.fth = x2.fth, x1.fia = x2.fia, x1.fretain = x2.fretain, x1.fattsub "
     "= x2.fattsub where x1.fdegree = x2.fdegree and x1.fexamno = x2.fexamno and "
     "x1.fcsubcode = x2.fcsubcode"},
    {"mascat", "fcatcode, fcatdesc, fdeleted",
     "update mascat x1, tmpmascat x2 set x1.fcatdesc = x2.fcatdesc where x1.fcatcode = "
     "x2.fcatcode"},
    {"mashead", "fheadcode, fheaddesc, fdeleted",
     "update mashead x1, tmpmashead x2 set x1.fheaddesc = x2.fheaddesc where x1.fheadcode "
     "= x2.fheadcode"},
    {"masroute", "frtcode, frtname, fdeleted",
     "update masroute x1, tmpmasroute x2 set x1.frtname = x2.frtname where x1.frtcode = "
     "x2.frtcode"},
    {"student",
     "fadmno, fdegree, fexamno, fname, ffather, fmother, fdob, fmobile, femail, fgender, "
     "fbloodgrp, fcatcode, frtcode, fsection, factive, fyear, fregno, faddr1, faddr2, "
     "faddr3, faddr4, fpincode, faddp1, faddp2, faddp3, faddp4, fpincodep, fcollcode, "
     "fdoa, fhostcode, fhostjoindate, fmesscode, fcombcode, fmobilep, femailp, fhostblock, "
     "fhostroomno, freligion, fcaste, f1stlang, f2ndlang, fseattype, fseatstate, "
     "fplacecode, fdropplace, fdeleted",
     "update student x1, tmpstudent x2 set x1.fname = x2.fname, x1.ffather = x2.ffather, "
     "x1.fmother = x2.fmother, x1.fdob = x2.fdob, x1.fregno = x2.fregno, x1.faddr1 = "
     "x2.faddr1, x1.faddr2 = x2.faddr2, x1.faddr3 = x2.faddr3, x1.faddr4 = x2.faddr4, "
     "x1.fmobile = x2.fmobile, x1.femail = x2.femail, x1.fgender = x2.fgender, "
     "x1.fbloodgrp = x2.fbloodgrp, x1.fdegree = x2.fdegree, x1.fexamno = x2.fexamno, "
     "x1.fcatcode = x2.fcatcode, x1.frtcode = x2.frtcode, x1.fsection = x2.fsection, "
     "x1.factive = x2.factive, x1.fyear = x2.fyear, x1.fregno = x2.fregno, x1.faddr1 = "
     "x2.faddr1, x1.faddr2 = x2.faddr2, x1.faddr3 = x2.faddr3, x1.faddr4 = x2.faddr4, "
     "x1.fpincode = x2.fpincode, x1.faddp1 = x2.faddp1, x1.faddp2 = x2.faddp2, x1.faddp3 = "
     "x2.faddp3, x1.faddp4 = x2.faddp4, x1.fcollcode = x2.fcollcode, x1.fdoa = x2.fdoa, "
     "x1.fhostcode = x2.fhostcode, x1.fhostjoindate = x2.fhostjoindate, x1.fmesscode = "
     "x2.fmesscode, x1.fcombcode = x2.fcombcode, x1.fmobilep = x2.fmobilep, x1.femailp = "
     "x2.femailp, x1.fhostblock = x2.fhostblock, x1.fhostroomno = x2.fhostroomno, "
     "x1.freligion = x2.freligion, x1.fcaste = x2.fcaste, x1.f1stlang = x2.f1stlang, "
     "x1.f2ndlang = x2.f2ndlang, x1.fseattype = x2.fseattype, x1.fseatstate = "
     "x2.fseatstate, x1.fpincodep = x2.fpincodep, x1.fplacecode = x2.fplacecode, "
     "x1.fdropplace = x2.fdropplace, x1.fdeleted = x2.fdeleted where x1.fadmno = x2.fadmno"},
    {"masuser", "fusername, fpasswd, fusertype, fusergrp, fdeleted",
     "update masuser x1, tmpmasuser x2 set x1.fdeleted= x2.fdeleted where x1.fusername = "
     "x2.fusername"},
    {"result",
     "fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, fexamtype, fclosed, "
     "fdeleted",
     "update result x1, tmpresult x2 set x1.fsection = x2.fsection, x1.factive = "
     "x2.factive, x1.fclosed = x2.fclosed where x1.fcollcode = x2.fcollcode and x1.fdegree "
     "= x2.fdegree and x1.fexamno = x2.fexamno and x1.fadmno = x2.fadmno and x1.fyear = "
     "x2.fyear and x1.fexamtype = x2.fexamtype"},
    {"studsub",
     "fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, fmarks, fremarks, "
     "fdeleted",
     "update studsub x1, tmpstudsub x2 set x1.fpass = x2.fpass, x1.fpassmth = x2.fpassmth, "
     "x1.fmarks = x2.fmarks, x1.fremarks = x2.fremarks where x1.fcollcode = x2.fcollcode "
     "and x1.fdegree = x2.fdegree and x1.fexamno = x2.fexamno and x1.fsubcode = "
     "x2.fsubcode and x1.fadmno = x2.fadmno"},
    {"rechead",
     "frecno, frecdate, fadmno, ftotal, fdegree, fexamno, fdiscount, fnettotal, fyear, "
     "fexamtype, fdeleted",
     "update rechead x1, tmprechead x2 set x1.frecdate = x2.frecdate, x1.ftotal = "
     "x2.ftotal, x1.fdegree = x2.fdegree, x1.fexamno = x2.fexamno, x1.fdiscount = "
     "x2.fdiscount, x1.fnettotal = x2.fnettotal, x1.fyear = x2.fyear, x1.fexamtype = "
     "x2.fexamtype, x1.fdeleted = x2.fdeleted where x1.frecno = x2.frecno"},
    {"recdetl", "frecno, fheadcode, famount, fdeleted",
     "update recdetl x1, tmprecdetl x2 set x1.famount = x2.famount where x1.frecno = "
     "x2.frecno and x1.fheadcode = x2.fheadcode"},
    {"recmode", "frecno, fpaytype, famount, finstrno, finstrdate, finstrbank, fdeleted",
     "update tmprecmode x1, recmode x2 set x1.fdeleted = 'T' where x1.frecno = x2.frecno "
     "and x1.fpaytype = x2.fpaytype"},
    {"studfee",
     "fadmno, fdegree, fexamno, fheadcode, ffee, fpaid, fbal, flastdate, fyear, fexamtype, "
     "fdeleted",
     "update studfee x1, tmpstudfee x2 set x1.ffee = x2.ffee, x1.fpaid = x2.fpaid, x1.fbal "
     "= x2.fbal, x1.flastdate = x2.flastdate, x1.fdeleted = 'M' where x1.fdegree = "
     "x2.fdegree and x1.fadmno = x2.fadmno and x1.fheadcode = x2.fheadcode"},
    {"masemp", "fempcode, fempname, fmobile, femail, fdesignation, fdeleted",
     "update masemp x, tmpmasemp y set x.fempname = y.fempname, x.fmobile = y.fmobile, "
     "x.femail = y.femail where x.fempcode = y.fempcode"},
    {"hosthead", "fhostcode, fhostname, ffloors, frooms, forder, fdeleted",
     "update hosthead x, tmphosthead y set x.fhostname = y.fhostname, x.ffloors = "
     "y.ffloors, x.frooms = y.frooms, x.forder = y.forder where x.fhostcode = y.fhostcode"},
    {"hostroomtype", "froomtype, fdescpn, forder, fdeleted",
     "update hostroomtype x, tmphostroomtype y set x.fdescpn = y.fdescpn, x.forder = "
     "y.forder where x.froomtype = y.froomtype"},
    {"hostrooms",
     "fhostcode, froomno, froomdesc, ffloorno, froomtype, fcapacity, ffee, forder, "
     "fdeleted",
     "update hostrooms x, tmphostrooms y set x.froomdesc = y.froomdesc, x.ffloorno = "
     "y.ffloorno, x.froomtype = y.froomtype, x.fcapacity = y.fcapacity, x.ffee = y.ffee, "
     "x.forder = y.forder where x.fhostcode = y.fhostcode and x.froomno = y.froomno"},
    {"smslog",
     "fdate, ftime, fusername, fmessage, fstatus, fguid, fscreentype, fadmno, fdegree, "
     "fmobile, fdeleted",
     ""},
};

TEST(MirrorDescriptions, RenderTheStatementsThePortalIsSent) {
  std::size_t seen = 0;
  for (const MirrorDescription* description : allMirrorDescriptions()) {
    SCOPED_TRACE(description->tableName);
    const Rendered* expected = nullptr;
    for (const Rendered& r : kRendered) {
      if (description->tableName == r.table) expected = &r;
    }
    ASSERT_NE(expected, nullptr);
    ++seen;
    EXPECT_EQ(description->columnList(), expected->columnList);
    EXPECT_EQ(description->mergeUpdate(), expected->mergeUpdate);
  }
  EXPECT_EQ(seen, std::size(kRendered));
}

}  // namespace
}  // namespace agent
