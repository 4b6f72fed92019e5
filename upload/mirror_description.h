// MirrorDescription: one mirrored table — where its rows come from, the
// export file they are written to, the remote table they are merged into
// and how. Every table stage runs a MirrorDescription through MirrorTable
// (upload/mirror_table.h); the descriptions are fixed data, one list per
// group of tables (masters, staff and hostels, students, results, fee
// balances, receipts), each field named at each entry.
#ifndef AGENT_UPLOAD_MIRROR_DESCRIPTION_H_
#define AGENT_UPLOAD_MIRROR_DESCRIPTION_H_

#include <cstddef>
#include <optional>
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
    return {.kind = Kind::Source,
            .column = std::move(column),
            .second = {},
            .conversion = conversion,
            .constant = {}};
  }
  static ExportField joined(std::string first, std::string second) {
    return {.kind = Kind::Joined,
            .column = std::move(first),
            .second = std::move(second),
            .conversion = Conversion::Plain,
            .constant = {}};
  }
  static ExportField fixed(std::string text) {
    return {.kind = Kind::Constant,
            .column = {},
            .second = {},
            .conversion = Conversion::Plain,
            .constant = std::move(text)};
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

// One column of a mirrored table, in the export file's order: its name in
// the remote table and how the export line's field is made for it (a table
// whose stage writes its lines itself leaves the field empty).
struct MirrorColumn {
  std::string name;
  ExportField field;
};

// The aliases the two tables of a merge update go by.
enum class MergeAliases {
  TableNames,  // none: "update college, tmpcollege set college.x = tmpcollege.x"
  X1X2,        // "update subject x1, tmpsubject x2 set x1.x = x2.x"
  XY,          // "update masemp x, tmpmasemp y set x.x = y.x"
};

// The merge update: the statement that copies the staging table's rows
// onto the target's rows with the same key, written as
//
//   update <first> <a>, <second> <b> set <a>.<c> = <b>.<c>, ...
//   where <a>.<k> = <b>.<k> and ...
//
// where <first> is the target and <second> the staging table (the other
// way round for stagingFirst). The set list is data of its own rather than
// a mark on each column: its order is not the file's, and the students'
// list names some columns twice; the portal has always been sent it so.
struct MergeUpdate {
  struct Assignment {
    std::string column;
    std::string value = {};  // SQL for the new value; empty: <b>.<column>
    std::string equals = " = ";
  };
  std::vector<Assignment> set;
  std::vector<std::string> key;  // the columns it joins on, in the where clause's order
  MergeAliases aliases = MergeAliases::X1X2;
  // The staging table comes first and is the one updated (a table whose
  // merge only marks the staging rows the target holds already).
  bool stagingFirst = false;
};

struct MirrorDescription {
  std::string sourceQuery;                // run on the local connection; its order is the file's
  std::string exportFileName;             // inside the CSV folder, spelled as given
  std::string tableName;                  // the remote target; staging is "tmp" + tableName
  std::vector<MirrorColumn> columns;      // in file order
  std::optional<MergeUpdate> merge = {};  // none: the stage sends statements of its own
  StagingVariant variant = StagingVariant::DropAfter;
  // For a table whose local primary key is its remote key (so no key comes
  // twice, and the order of the lines changes nothing remotely): the same
  // rows in the order they are stored, which every run with change
  // detection on reads instead, full merges included. An index-ordered
  // scan looks every row up by its row number, several times slower than
  // reading the table through. Empty, or change detection off: the source
  // query always.
  std::string changesSourceQuery = {};

  std::string stagingTable() const { return "tmp" + tableName; }
  // The remote columns in file order, ", "-separated: what the loads name.
  std::string columnList() const;
  // The merge update statement; empty when there is none.
  std::string mergeUpdate() const;
  // The export fields (indices into columns) of the target's key that the
  // merge update joins on, in its order: what change detection keys lines
  // by. nullopt when it joins on none (no merge update, or one that updates
  // the staging table) or a key column's field is a constant.
  std::optional<std::vector<std::size_t>> keyFields() const;
};

// The description in descriptions whose tableName is table. Throws
// AgentError (invalid argument) naming the table when there is none: a
// programming error, which the cycle reports as it reports any failure.
const MirrorDescription& findMirrorDescription(std::span<const MirrorDescription> descriptions,
                                               std::string_view table);

// The descriptions of each group of tables, in cycle order.
std::span<const MirrorDescription> masterTableDescriptions();     // college ... masroute
std::span<const MirrorDescription> staffAndHostelDescriptions();  // masemp ... hostrooms
std::span<const MirrorDescription> resultDescriptions();          // result, studsub

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_DESCRIPTION_H_
