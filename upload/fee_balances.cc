// Fee balances: every student's fee position per fee head (due, paid,
// balance, last date), computed in the local database with three temporary
// tables and published to studfee. Institutions outside the posting list
// also get one FINE row per student who owes a late fine. A mark-and-sweep
// around the merge leaves the remote table holding exactly the keys of this
// cycle's file. The temporary tables stay with the local connection that
// made them: the cycle's own one (the next cycle meets them, and the
// connection's leftover recovery drops them), or a second one that made
// them ahead and closes with the stage.
#include <optional>

#include "cycle/gates.h"
#include "cycle/local_ahead.h"
#include "upload/mirror_catalog.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/source_fingerprint.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;

// Fee rows of existing students, with the student's year.
constexpr const char* kFeeRows =
    "SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE, S.FYEAR "
    "INTO #TMPUPFEE FROM FEESTRV F, STUDENT S WHERE F.FDEGREE = S.FDEGREE AND F.FADMNO = "
    "S.FADMNO";

// What was paid per student and fee head; a receipt flagged 'T' is
// cancelled, a NULL flag is not.
constexpr const char* kPaidSums =
    "SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, SUM(FAMOUNT) AS FAMOUNT INTO #TMPUPREC FROM "
    "RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  AND ISNULL(RECHEAD.FDELETED,'F') <> "
    "'T' AND FDEGREE + FRECCODE IN(SELECT FDEGREE + FADMNO FROM STUDENT) GROUP BY FDEGREE, "
    "FRECCODE, FHEADCODE";

// Balances; a head whose last date lies before the local server's today
// and which is not fully paid carries its fine.
constexpr const char* kBalances =
    "SELECT FEE.FADMNO, FEE.FDEGREE, FEE.FHEADCODE, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FPAID, "
    "FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS FBAL, CASE WHEN DATEDIFF(D,GETDATE(),FEE.FLASTDATE) < 0 "
    "AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO, "
    "FEE.FLASTDATE, FEE.FYEAR INTO #TMPUPBAL FROM #TMPUPFEE FEE LEFT OUTER JOIN #TMPUPREC REC ON "
    "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE";

// One FINE row per student with any fine: the total fine as fee and
// balance, nothing paid, exam number A, no last date.
constexpr const char* kFineRows =
    "INSERT INTO #TMPUPBAL SELECT FADMNO, FDEGREE, 'FINE' AS FHEADCODE, SUM(FFINEAMT) AS FFEE, 0 "
    "AS FPAID,  SUM(FFINEAMT) AS FBAL, 0 AS FFINEAMT, 'A' AS FEXAMNO, NULL FLASTDATE, FYEAR FROM "
    "#TMPUPBAL WHERE FFINEAMT > 0 GROUP BY FADMNO, FDEGREE, FYEAR";

// What the chain above reads, column by column: the balances can differ
// only when one of these, or the date, does.
constexpr FingerprintColumn kFeeColumns[] = {
    {"FDEGREE", FingerprintKind::Text},   {"FADMNO", FingerprintKind::Text},
    {"FHEADCODE", FingerprintKind::Text}, {"FFEE", FingerprintKind::Number},
    {"FEXAMNO", FingerprintKind::Text},   {"FLASTDATE", FingerprintKind::Date},
    {"FFINE", FingerprintKind::Number}};
constexpr FingerprintColumn kStudentColumns[] = {{"FDEGREE", FingerprintKind::Text},
                                                 {"FADMNO", FingerprintKind::Text},
                                                 {"FYEAR", FingerprintKind::Text}};
constexpr FingerprintColumn kReceiptColumns[] = {{"FRECNO", FingerprintKind::Text},
                                                 {"FDELETED", FingerprintKind::Text},
                                                 {"FDEGREE", FingerprintKind::Text},
                                                 {"FRECCODE", FingerprintKind::Text}};
constexpr FingerprintColumn kReceiptLineColumns[] = {{"FRECNO", FingerprintKind::Text},
                                                     {"FHEADCODE", FingerprintKind::Text},
                                                     {"FAMOUNT", FingerprintKind::Number}};
// Receipts change most often, fee rows least.
constexpr FingerprintTable kFeeSources[] = {{"RECHEAD", kReceiptColumns},
                                            {"RECDETL", kReceiptLineColumns},
                                            {"STUDENT", kStudentColumns},
                                            {"FEESTRV", kFeeColumns}};

// Between the merge update (which marks every matched row 'M') and the
// insert load: remove the rows the file no longer holds, clear the marks.
constexpr const char* kSweep = "delete from studfee where ifnull(fdeleted,'') <> 'M'";
// Only marked rows: the same result as clearing every row, without
// writing the rows that carry no mark.
constexpr const char* kClearMarks = "update studfee set fdeleted = null where fdeleted is not null";

const MirrorDescription& studfeeDescription() {
  // The merge leaves fexamno, fyear and fexamtype of an existing row alone.
  static const MirrorDescription kDescription = {
      .sourceQuery = "SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FEXAMNO, FHEADCODE",
      .exportFileName = "UPSTUDFEE.csv",
      .tableName = "studfee",
      .columns = {{"fadmno", F::source("FADMNO")},
                  {"fdegree", F::source("FDEGREE")},
                  {"fexamno", F::source("FEXAMNO")},
                  {"fheadcode", F::source("FHEADCODE")},
                  {"ffee", F::source("FFEE")},
                  {"fpaid", F::source("FPAID")},
                  {"fbal", F::source("FBAL")},
                  {"flastdate", F::source("FLASTDATE", Conversion::Date)},
                  {"fyear", F::source("FYEAR")},
                  {"fexamtype", F::fixed("1")},
                  {"fdeleted", F::fixed("F")}},
      .merge = MergeUpdate{.set = {{"ffee"},
                                   {"fpaid"},
                                   {"fbal"},
                                   {"flastdate"},
                                   {.column = "fdeleted", .value = "'M'"}},
                           .key = {"fdegree", "fadmno", "fheadcode"}},
      .variant = StagingVariant::DropAfter};
  return kDescription;
}

}  // namespace

std::span<const MirrorDescription> feeBalanceDescriptions() {
  return {&studfeeDescription(), 1};
}

void computeFeeBalances(Connection& local, const std::string& univCode) {
  local.execute(kFeeRows);
  local.execute(kPaidSums);
  local.execute(kBalances);
  // The institutions whose gateway payments the agent books get no fines.
  if (!postingGate(univCode)) local.execute(kFineRows);
}

namespace {

void computeFeeBalancesFor(Connection& local, const AheadInput& input) {
  computeFeeBalances(local, input.univCode);
}

constexpr ComputedSource kFeeBalances = {kFeeSources, computeFeeBalancesFor};

}  // namespace

AheadSources makeFeeBalances(Connection& local, const AheadInput& input) {
  return makeComputedSource(local, kFeeBalances, input);
}

AheadInput feeBalancesInput(const CycleContext& ctx) {
  return computedSourceInput(ctx, studfeeDescription().tableName,
                             postingGate(ctx.univCode) ? "no fines" : "fines");
}

std::size_t uploadFeeBalances(CycleContext& ctx) {
  std::unique_ptr<Connection> ahead;
  AheadSources sources;
  Connection& balances = localWithWorkDone(ctx, "fee balances", makeFeeBalances,
                                           feeBalancesInput(ctx), ahead, &sources);
  MirrorTable studfee(ctx, studfeeDescription());
  studfee.setSource(balances);
  studfee.setSweep({kSweep, kClearMarks, "fdeleted"});
  std::function<std::string()> make;
  if (sources.skipped) {
    // The balances were left out; a run that must read them (a full merge,
    // a remote table that changed) makes them now.
    make = [&ctx, &balances] {
      return makeSkippedSource(balances, kFeeBalances, feeBalancesInput(ctx));
    };
  }
  studfee.setComputedSource(sources.fingerprint, std::move(make));
  return studfee.run();
}

}  // namespace agent
