// Receipts: headers, lines and payment modes. Locally a receipt keeps its
// payment modes as column groups of its header (an amount, an instrument
// number, a date and a bank each); remotely each mode used is a row of
// recmode. One pass over the receipt lines writes UPRECHEAD.csv (one line
// per receipt), UPRECDETL.csv (one per line) and UPRECMODE.csv (one per mode
// used); rechead and recdetl are then merged, recmode only gains rows: a
// mode row once on the portal is never changed. #TMPUPRECEIPT stays with
// the local connection for the next cycle's leftover recovery.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "cycle/early_part.h"
#include "cycle/local_ahead.h"
#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/mirror_catalog.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/source_fingerprint.h"
#include "upload/table_stages.h"
#include "upload/value_text.h"

namespace agent {

namespace {

using F = ExportField;

// Every line of every receipt whose student exists, cancelled ones too.
constexpr const char* kReceiptRows =
    " SELECT X1.FRECNO, X1.FRECDATE, X1.FRECCODE AS FADMNO, X1.FTOTAL, X1.FDEGREE, X1.FEXAMNO, "
    "X1.FNETTOTAL, X1.FDISCOUNT, X1.FCASHAMOUNT, X1.FCASHNO, X1.FCASHDATE, X1.FCASHBANKNAME, "
    "X1.FCHQAMOUNT, X1.FCHQNO, X1.FCHQDATE, X1.FCHQBANKNAME, X1.FDDAMOUNT, X1.FDDNO, X1.FDDDATE, "
    "X1.FDDBANKNAME, X1.FRTGSAMOUNT, X1.FRTGSNO, X1.FRTGSDATE, X1.FRTGSBANKNAME, X1.FCARDAMOUNT, "
    "X1.FCARDNO, X1.FCARDDATE, X1.FCARDBANKNAME, X1.FCHALAMOUNT, X1.FCHALNO, X1.FCHALDATE, "
    "X1.FCHALBANKNAME, X1.FREMARKS, X2.FHEADCODE, X2.FAMOUNT, X1.FDELETED INTO #TMPUPRECEIPT FROM "
    "RECHEAD X1, RECDETL X2 WHERE X1.FRECNO = X2.FRECNO AND X1.FDEGREE + X1.FRECCODE IN(SELECT "
    "FDEGREE + FADMNO FROM STUDENT )";

constexpr const char* kReceiptSource = "SELECT * FROM #TMPUPRECEIPT ORDER BY FRECNO, FHEADCODE";

// What the rows above read of receipts, their lines and their students:
// the files can differ only when one of these does (or the year they carry,
// or the regional settings).
constexpr FingerprintColumn kHeaderColumns[] = {
    {"FRECNO", FingerprintKind::Text},        {"FRECDATE", FingerprintKind::Date},
    {"FRECCODE", FingerprintKind::Text},      {"FTOTAL", FingerprintKind::Number},
    {"FDEGREE", FingerprintKind::Text},       {"FEXAMNO", FingerprintKind::Text},
    {"FNETTOTAL", FingerprintKind::Number},   {"FDISCOUNT", FingerprintKind::Number},
    {"FCASHAMOUNT", FingerprintKind::Number}, {"FCASHNO", FingerprintKind::Text},
    {"FCASHDATE", FingerprintKind::Date},     {"FCASHBANKNAME", FingerprintKind::Text},
    {"FCHQAMOUNT", FingerprintKind::Number},  {"FCHQNO", FingerprintKind::Text},
    {"FCHQDATE", FingerprintKind::Date},      {"FCHQBANKNAME", FingerprintKind::Text},
    {"FDDAMOUNT", FingerprintKind::Number},   {"FDDNO", FingerprintKind::Text},
    {"FDDDATE", FingerprintKind::Date},       {"FDDBANKNAME", FingerprintKind::Text},
    {"FRTGSAMOUNT", FingerprintKind::Number}, {"FRTGSNO", FingerprintKind::Text},
    {"FRTGSDATE", FingerprintKind::Date},     {"FRTGSBANKNAME", FingerprintKind::Text},
    {"FCARDAMOUNT", FingerprintKind::Number}, {"FCARDNO", FingerprintKind::Text},
    {"FCARDDATE", FingerprintKind::Date},     {"FCARDBANKNAME", FingerprintKind::Text},
    {"FCHALAMOUNT", FingerprintKind::Number}, {"FCHALNO", FingerprintKind::Text},
    {"FCHALDATE", FingerprintKind::Date},     {"FCHALBANKNAME", FingerprintKind::Text},
    {"FREMARKS", FingerprintKind::Text},      {"FDELETED", FingerprintKind::Text}};
constexpr FingerprintColumn kLineColumns[] = {{"FRECNO", FingerprintKind::Text},
                                              {"FHEADCODE", FingerprintKind::Text},
                                              {"FAMOUNT", FingerprintKind::Number}};
constexpr FingerprintColumn kStudentKeyColumns[] = {{"FDEGREE", FingerprintKind::Text},
                                                    {"FADMNO", FingerprintKind::Text}};
// Receipts change most often, students least.
constexpr FingerprintTable kReceiptSources[] = {
    {"RECHEAD", kHeaderColumns}, {"RECDETL", kLineColumns}, {"STUDENT", kStudentKeyColumns}};

void selectReceiptRows(Connection& local, const AheadInput&) {
  local.execute(kReceiptRows);
}

constexpr ComputedSource kReceiptRowsSource = {kReceiptSources, selectReceiptRows};

// Staged mode rows whose (frecno, fpaytype) is not on the portal yet.
constexpr const char* kAddNewModes =
    "insert ignore into recmode select * from tmprecmode where ifnull(fdeleted,'') <> 'T'";

// The index in the rechead fields of fyear: the computer's year when the
// file is written, not a column of the receipt.
constexpr std::size_t kHeaderYearField = 8;

const std::vector<MirrorDescription>& descriptions() {
  static const std::vector<MirrorDescription> kDescriptions = {
      // A cancellation reaches rechead only; fadmno of an existing receipt
      // is kept.
      {.sourceQuery = kReceiptSource,
       .exportFileName = "UPRECHEAD.csv",
       .tableName = "rechead",
       .columns = {{"frecno", F::source("FRECNO")},
                   {"frecdate", F::source("FRECDATE", Conversion::Date)},
                   {"fadmno", F::source("FADMNO")},
                   {"ftotal", F::source("FTOTAL")},
                   {"fdegree", F::source("FDEGREE")},
                   {"fexamno", F::source("FEXAMNO")},
                   {"fdiscount", F::source("FDISCOUNT")},
                   {"fnettotal", F::source("FNETTOTAL")},
                   {"fyear", F::fixed("<year>")},
                   {"fexamtype", F::fixed("1")},
                   {"fdeleted", F::source("FDELETED")}},
       .merge = MergeUpdate{.set = {{"frecdate"},
                                    {"ftotal"},
                                    {"fdegree"},
                                    {"fexamno"},
                                    {"fdiscount"},
                                    {"fnettotal"},
                                    {"fyear"},
                                    {"fexamtype"},
                                    {"fdeleted"}},
                            .key = {"frecno"}},
       .variant = StagingVariant::DropAfter},

      {.sourceQuery = kReceiptSource,
       .exportFileName = "UPRECDETL.csv",
       .tableName = "recdetl",
       .columns = {{"frecno", F::source("FRECNO")},
                   {"fheadcode", F::source("FHEADCODE")},
                   {"famount", F::source("FAMOUNT")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"famount"}}, .key = {"frecno", "fheadcode"}},
       .variant = StagingVariant::DropAfter},

      // Lines come from each receipt's mode list, not from source columns.
      // The "merge update" marks the staged rows the portal already holds;
      // the staging table is dropped at the start of the next run.
      {.sourceQuery = kReceiptSource,
       .exportFileName = "UPRECMODE.csv",
       .tableName = "recmode",
       .columns = {{"frecno", {}},
                   {"fpaytype", {}},
                   {"famount", {}},
                   {"finstrno", {}},
                   {"finstrdate", {}},
                   {"finstrbank", {}},
                   {"fdeleted", {}}},
       .merge = MergeUpdate{.set = {{.column = "fdeleted", .value = "'T'"}},
                            .key = {"frecno", "fpaytype"},
                            .stagingFirst = true},
       .variant = StagingVariant::DropBoth},
  };
  return kDescriptions;
}

// One payment mode column group of a receipt header.
struct ModeColumns {
  const char* payType;
  const char* amount;
  const char* number;
  const char* date;
  const char* bank;
};

constexpr const char* kCashPayType = "Cash";
constexpr const char* kCashAmount = "FCASHAMOUNT";

// The instrument modes, in the order their entries are listed.
constexpr ModeColumns kInstrumentModes[] = {
    {"Cheque", "FCHQAMOUNT", "FCHQNO", "FCHQDATE", "FCHQBANKNAME"},
    {"DD", "FDDAMOUNT", "FDDNO", "FDDDATE", "FDDBANKNAME"},
    {"NEFT / RTGS", "FRTGSAMOUNT", "FRTGSNO", "FRTGSDATE", "FRTGSBANKNAME"},
    {"CARD", "FCARDAMOUNT", "FCARDNO", "FCARDDATE", "FCARDBANKNAME"},
    {"CHALLAN", "FCHALAMOUNT", "FCHALNO", "FCHALDATE", "FCHALBANKNAME"},
};

// A card payment made on the portal is booked locally with this bank name
// (exactly, case and blanks included) and goes back up as pay type PG.
constexpr const char* kCardPayType = "CARD";
constexpr const char* kPortalBankName = "ONLINE";
constexpr const char* kPortalPayType = "PG";

// One row of recmode for the receipt being read.
struct ModeEntry {
  std::string payType;
  Value amount;
  std::string number;
  Value date;
  std::string bank;
};

bool isAboveZero(const Value& amount) {
  return amount.isNumber() && amount.numberValue() > 0;
}

// The columns of the modes, found by name once per pass rather than once
// per receipt (a name lookup compares it with every column of the row).
struct ModeFields {
  struct Mode {
    const ModeColumns* names;
    std::size_t amount, number, date, bank;
  };
  // Throws the "item not found" error naming a column the query lacks.
  explicit ModeFields(const Recordset& rows)
      : cash(rows.fieldIndex(kCashAmount)),
        discount(rows.fieldIndex("FDISCOUNT")),
        total(rows.fieldIndex("FTOTAL")) {
    for (const ModeColumns& mode : kInstrumentModes) {
      modes.push_back({&mode, rows.fieldIndex(mode.amount), rows.fieldIndex(mode.number),
                       rows.fieldIndex(mode.date), rows.fieldIndex(mode.bank)});
    }
  }
  std::size_t cash, discount, total;
  std::vector<Mode> modes;
};

// FDISCOUNT equal to FTOTAL: nothing was left to pay. NULL never matches.
bool fullyDiscounted(const Recordset& row, const ModeFields& at) {
  const Value& discount = row.field(at.discount);
  const Value& total = row.field(at.total);
  return discount.isNumber() && total.isNumber() && discount.numberValue() == total.numberValue();
}

// The modes of the receipt on the current row, in cash, cheque, DD, bank
// transfer, card, challan order. A mode whose number is filled while its
// amount is NULL is left out with a warning: recmode only gains rows, so it
// arrives as a new pay type once the office fills in the amount, where a 0
// sent now would stay on the portal for good. For the same reason a receipt
// with a mode left out gets no closing Cash entry in the meantime.
std::vector<ModeEntry> receiptModes(const Recordset& row, const ModeFields& at,
                                    const std::string& recNo, const RegionalSettings& regional,
                                    Journal& journal) {
  std::vector<ModeEntry> modes;
  bool modeLeftOut = false;
  const Value& cash = row.field(at.cash);
  if (isAboveZero(cash)) modes.push_back({kCashPayType, cash, "", Value(), ""});

  for (const ModeFields::Mode& mode : at.modes) {
    const Value& amount = row.field(mode.amount);
    std::string number = plainText(row.field(mode.number), regional);
    if (!isAboveZero(amount) && trim(number, " ").empty()) continue;
    const char* payTypeName = mode.names->payType;
    if (amount.isNull()) {
      journal.warning("receipt " + recNo + ": " + payTypeName + " number \"" + number +
                      "\" has no amount; the mode is left out until the amount is filled in");
      modeLeftOut = true;
      continue;
    }
    std::string bank = plainText(row.field(mode.bank), regional);
    std::string payType = std::string(payTypeName) == kCardPayType && bank == kPortalBankName
                              ? kPortalPayType
                              : payTypeName;
    modes.push_back({payType, amount, number, row.field(mode.date), bank});
  }

  // A fully discounted receipt with no mode used received nothing: one Cash
  // entry carries its cash amount, 0 when there is none.
  if (modes.empty() && !modeLeftOut && fullyDiscounted(row, at)) {
    modes.push_back({kCashPayType, cash.isNull() ? Value::number(0) : cash, "", Value(), ""});
  }
  return modes;
}

std::vector<std::string> modeLine(const std::string& recNo, const ModeEntry& entry,
                                  const RegionalSettings& regional) {
  return {recNo,
          entry.payType,
          plainText(entry.amount, regional),
          entry.number,
          dateText(entry.date, regional),
          entry.bank,
          "F"};
}

// The one pass: a receipt's header and mode lines are written when its
// first line is read. Returns the receipt lines written.
// With headerStaging (not null), the headers' staging statements run while
// their file is written, on stream, which the caller ends.
std::size_t exportReceipts(CycleContext& ctx, Recordset& rows, MirrorTable& header,
                           const MirrorDescription& headerDescription, MirrorTable& detail,
                           MirrorTable& modes, const std::vector<std::string>* headerStaging,
                           MirrorTable::StagingStream& stream) {
  const RegionalSettings& regional = ctx.config.regional;
  const CodePage codePage = ctx.portal.exportCodePage;
  ExportRow headerRow(headerDescription, rows, regional);
  ExportRow detailRow(findMirrorDescription(descriptions(), "recdetl"), rows, regional);
  ExportFile headerFile(header.exportPath(), codePage);
  ExportFile detailFile(detail.exportPath(), codePage);
  ExportFile modeFile(modes.exportPath(), codePage);
  if (headerStaging != nullptr) stream.start(header, headerFile, *headerStaging);
  const std::size_t recNoColumn = rows.indexOf("FRECNO");
  const ModeFields modeFields(rows);

  std::optional<std::string> previousRecNo;
  std::size_t lines = 0;
  for (; !rows.eof(); rows.moveNext(), ++lines) {
    std::string recNo = plainText(rows.field(recNoColumn), regional);
    if (recNo != previousRecNo) {
      std::span<const std::string> fields = headerRow.build();
      if (header.offerLine(fields)) headerFile.writeLine(fields);
      for (const ModeEntry& entry : receiptModes(rows, modeFields, recNo, regional, ctx.journal)) {
        std::vector<std::string> line = modeLine(recNo, entry, regional);
        if (modes.offerLine(line)) modeFile.writeLine(line);
      }
      previousRecNo = recNo;
    }
    std::span<const std::string> fields = detailRow.build();
    if (detail.offerLine(fields)) detailFile.writeLine(fields);
    ctx.rowDone();
  }
  headerFile.close();
  detailFile.close();
  modeFile.close();
  handOverExport(ctx, "rechead", headerFile, stream.started());
  handOverExport(ctx, "recdetl", detailFile);
  handOverExport(ctx, "recmode", modeFile);
  return lines;
}

}  // namespace

std::span<const MirrorDescription> receiptDescriptions() {
  return descriptions();
}

AheadSources gatherReceiptRows(Connection& local, const AheadInput& input) {
  return makeComputedSource(local, kReceiptRowsSource, input);
}

AheadInput receiptRowsInput(const CycleContext& ctx) {
  return computedSourceInput(ctx, "rechead", "year " + std::to_string(ctx.clock.now().year));
}

namespace {

// The receipts' local part: their rows read and the three files written
// (done early, or in the stage's turn); finish() then runs the remote
// statements in order.
class ReceiptExport : public EarlyPart {
 public:
  // early: done before the stage's turn, when no remote statement may run
  // yet (the headers' staging load then waits for the turn too).
  ReceiptExport(CycleContext& ctx, bool early)
      : headerDescription_(headerDescription(ctx)),
        header_(ctx, headerDescription_),
        detail_(ctx, findMirrorDescription(descriptions(), "recdetl")),
        modes_(ctx, findMirrorDescription(descriptions(), "recmode")) {
    AheadSources sources;
    Connection& receiptRows = localWithWorkDone(ctx, "receipt rows", gatherReceiptRows,
                                                receiptRowsInput(ctx), ahead_, &sources);
    header_.setSource(receiptRows);
    // The mode rows: staged, marked where the portal holds their key
    // (frecno, fpaytype), and only the unmarked ones added, so the portal
    // only ever gains them. Changes-only, a line whose key the state holds
    // with the same digest is not sent: the portal holds its key already.
    modes_.setChangeKey({0, 1});
    const MergePlan& modes = modes_.plan();
    modes_.setOwnStatements(
        {modes.staging(), singleStep(modes.mergeUpdate()), singleStep(kAddNewModes)});
    header_.prepareChanges();
    detail_.prepareChanges();
    modes_.prepareChanges();
    setSources(sources.fingerprint);
    if (header_.keepsStoredLines() && detail_.keepsStoredLines() && modes_.keepsStoredLines()) {
      storedLinesStand_ = true;
      return;
    }
    if (sources.skipped) {
      // The rows were left out, and a table must read them after all (a
      // full merge, a remote table that changed): they are gathered now.
      setSources(makeSkippedSource(receiptRows, kReceiptRowsSource, receiptRowsInput(ctx)));
    }
    std::unique_ptr<Recordset> rows = header_.openSource();
    if (hasNoRows(*rows)) return;
    MirrorTable::beginChanges({&header_, &detail_, &modes_});
    // A full run of the headers on a connection that streams local files
    // sends their staging drop, create and load while the file is written.
    std::vector<std::string> staging;
    if (!early && header_.runsFull() && ctx.remote.streamsLocalFiles()) {
      // A full run's statements are known before its file is written.
      headerStatements_ = header_.runStatements();
      headerStreamed_ = true;
      staging = MergePlan::takeStaging(headerStatements_);
    }
    MirrorTable::StagingStream stream;
    try {
      lines_ = exportReceipts(ctx, *rows, header_, headerDescription_, detail_, modes_,
                              staging.empty() ? nullptr : &staging, stream);
    } catch (...) {
      stream.joinAfterExportFailed(ctx);
      throw;
    }
    stream.join();
  }

  std::size_t finish() override {
    if (storedLinesStand_) {
      for (MirrorTable* table : {&header_, &detail_, &modes_}) table->runStoredLines();
      return 0;
    }
    if (lines_ == 0) return 0;
    if (!headerStreamed_) headerStatements_ = header_.runStatements();
    header_.sendRemote(headerStatements_);
    header_.finishChanges();
    detail_.sendRemote(detail_.runStatements());
    detail_.finishChanges();
    modes_.sendRemote(modes_.runStatements());
    modes_.finishChanges();
    // A cancelled receipt changes its header line alone.
    return std::max({header_.rowsSent(lines_), detail_.rowsSent(lines_), modes_.rowsSent(lines_)});
  }

 private:
  static MirrorDescription headerDescription(const CycleContext& ctx) {
    MirrorDescription d = findMirrorDescription(descriptions(), "rechead");
    d.columns[kHeaderYearField].field = F::fixed(std::to_string(ctx.clock.now().year));
    return d;
  }

  // The fingerprint of the rows the three files are (or would be) written
  // from, kept with each table's state.
  void setSources(const std::string& fingerprint) {
    for (MirrorTable* table : {&header_, &detail_, &modes_}) {
      table->setComputedSource(fingerprint, nullptr);
    }
  }

  std::unique_ptr<Connection> ahead_;  // the receipt rows made ahead, when they were
  MirrorDescription headerDescription_;
  MirrorTable header_, detail_, modes_;
  bool headerStreamed_ = false;   // the headers' staging load ran
  RemoteSteps headerStatements_;  // then: the statements left to send
  std::size_t lines_ = 0;
  bool storedLinesStand_ = false;  // the rows are those the states were written from
};

}  // namespace

std::unique_ptr<EarlyPart> exportReceiptsEarly(CycleContext& ctx) {
  return std::make_unique<ReceiptExport>(ctx, true);
}

std::size_t uploadReceipts(CycleContext& ctx) {
  // The stage's early part, when it has one, is the receipts' export.
  if (ctx.turn.early != nullptr) return ctx.turn.early->finish();
  ReceiptExport now(ctx, false);
  return now.finish();
}

}  // namespace agent
