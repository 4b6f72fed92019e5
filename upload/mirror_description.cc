// Rendering a table's description into the text its statements use, and
// looking one up.
#include "upload/mirror_description.h"

#include <algorithm>
#include <string>

#include "base/errors.h"

namespace agent {

std::string MirrorDescription::columnList() const {
  std::string list;
  for (const MirrorColumn& column : columns) {
    if (!list.empty()) list += ", ";
    list += column.name;
  }
  return list;
}

std::string MirrorDescription::mergeUpdate() const {
  if (!merge) return {};
  const std::string first = merge->stagingFirst ? stagingTable() : tableName;
  const std::string second = merge->stagingFirst ? tableName : stagingTable();
  std::string a = first, b = second;
  if (merge->aliases == MergeAliases::X1X2) a = "x1", b = "x2";
  if (merge->aliases == MergeAliases::XY) a = "x", b = "y";
  std::string sql = "update " + first + (a == first ? "" : " " + a);
  sql += ", " + second + (b == second ? "" : " " + b);
  const char* separator = " set ";
  for (const MergeUpdate::Assignment& assignment : merge->set) {
    sql += separator + a + "." + assignment.column + assignment.equals;
    sql += assignment.value.empty() ? b + "." + assignment.column : assignment.value;
    separator = ", ";
  }
  separator = " where ";
  for (const std::string& column : merge->key) {
    sql += separator + a + "." + column + " = " + b + "." + column;
    separator = " and ";
  }
  return sql;
}

std::optional<std::vector<std::size_t>> MirrorDescription::keyFields() const {
  if (!merge || merge->stagingFirst || merge->key.empty()) return std::nullopt;
  std::vector<std::size_t> fields;
  for (const std::string& name : merge->key) {
    auto found = std::find_if(columns.begin(), columns.end(),
                              [&](const MirrorColumn& c) { return c.name == name; });
    if (found == columns.end() || found->field.kind == ExportField::Kind::Constant)
      return std::nullopt;
    fields.push_back(static_cast<std::size_t>(found - columns.begin()));
  }
  return fields;
}

const MirrorDescription& findMirrorDescription(std::span<const MirrorDescription> descriptions,
                                               std::string_view table) {
  for (const MirrorDescription& description : descriptions) {
    if (description.tableName == table) return description;
  }
  // A programming error, reported as any failure of the cycle is.
  throw AgentError(error_number::kInvalidArgument,
                   "no mirror description for table " + std::string(table));
}

}  // namespace agent
