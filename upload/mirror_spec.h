// MirrorSpec: the description of one mirrored table — where its rows come
// from, the export file they are written to, the remote table they are
// merged into and how. Every table stage is a MirrorSpec run through
// MirrorTable (upload/mirror_table.h); the specifications are fixed data,
// one table of them per group of tables (masters, staff and hostels,
// students, results, fee balances, receipts).
#ifndef AGENT_UPLOAD_MIRROR_SPEC_H_
#define AGENT_UPLOAD_MIRROR_SPEC_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "upload/value_text.h"

namespace agent {

// One field of an export line, in column-list order.
struct ExportField {
  enum class Kind {
    Source,  // a column of the source query, converted
    Joined,  // two columns written one after the other, no separator
    Constant,
  };
  Kind kind = Kind::Constant;
  std::string column;  // Source, Joined: the (first) source column
  std::string second;  // Joined: the column written after it
  Conversion conversion = Conversion::Plain;
  std::string constant;  // Constant: the text

  static ExportField source(std::string column, Conversion conversion = Conversion::Plain) {
    return {Kind::Source, std::move(column), {}, conversion, {}};
  }
  static ExportField joined(std::string first, std::string second) {
    return {Kind::Joined, std::move(first), std::move(second), Conversion::Plain, {}};
  }
  static ExportField fixed(std::string text) {
    return {Kind::Constant, {}, {}, Conversion::Plain, std::move(text)};
  }
};

// Which staging drops are sent and how the staging table is created.
enum class StagingVariant {
  // drop, then a plain "create table": starts empty, stays after the run
  DropBefore,
  // "create table if not exists", drop after. A table left by an
  // interrupted run would be reused with its rows, and its stale rows would
  // win the merge (the staging load skips keys it holds): so the staging
  // drop is sent before the create as well
  DropAfter,
  // drop, "create table if not exists", drop after
  DropBoth,
};

struct MirrorSpec {
  std::string sourceQuery;          // run on the local connection; its order is the file's
  std::string exportFileName;       // inside the CSV folder, spelled as given
  std::string tableName;            // the remote target; staging is "tmp" + tableName
  std::string columnList;           // remote columns in file order, ", "-separated
  std::vector<ExportField> fields;  // one per name of columnList
  std::string mergeUpdate;          // copies staging rows onto matching target rows
  StagingVariant variant = StagingVariant::DropAfter;

  std::string stagingTable() const { return "tmp" + tableName; }
};

// The spec in specs whose tableName is table. Throws std::out_of_range
// naming the table when there is none (a programming error).
const MirrorSpec& findMirrorSpec(std::span<const MirrorSpec> specs, std::string_view table);

// The specifications of each group of tables, in cycle order.
std::span<const MirrorSpec> masterTableSpecs();      // college ... masroute
std::span<const MirrorSpec> staffAndHostelSpecs();   // masemp ... hostrooms
std::span<const MirrorSpec> studentAndLoginSpecs();  // student, masuser
std::span<const MirrorSpec> resultSpecs();           // result, studsub

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_SPEC_H_
