// The remote session on a cluster node: fragments for large write sets, the
// definitions the staging tables are made from, and the portal's identity.
#include "cycle/cluster_session.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include <fmt/format.h>

#include "base/errors.h"
#include "base/text.h"

namespace agent {

namespace {

// A quarter of the limit: a fragment stays well under it whatever a row
// adds to the fragment that holds it.
long long fragmentBytesFor(long long maxWriteSet) {
  return std::max(1LL, maxWriteSet / 4);
}

// SHOW VARIABLES answers on any server, cluster or not (an unknown name
// just gives no row), and shows the session's values.
constexpr const char* kClusterVariables =
    "show variables where variable_name in ('wsrep_on', 'wsrep_max_ws_size', "
    "'wsrep_node_name', 'wsrep_mode')";

// The base tables of the portal's database, and those without a primary key.
constexpr const char* kBaseTables =
    "select t.table_name from information_schema.tables t "
    "where t.table_schema = database() and t.table_type = 'BASE TABLE'";
constexpr const char* kWithoutPrimaryKey =
    " and not exists (select 1 from information_schema.table_constraints c where "
    "c.table_schema = t.table_schema and c.table_name = t.table_name and c.constraint_type = "
    "'PRIMARY KEY')";

}  // namespace

std::map<std::string, std::string> tableDefinitions(Connection& remote, bool keylessOnly) {
  std::map<std::string, std::string> tables;
  std::vector<std::string> names;
  {
    std::unique_ptr<Recordset> rs = remote.query(
        std::string(kBaseTables) + (keylessOnly ? kWithoutPrimaryKey : ""), Cursor::Forward);
    for (; !rs->eof(); rs->moveNext()) names.push_back(displayText(rs->field(0)));
  }
  for (const std::string& name : names) {
    std::unique_ptr<Recordset> rs =
        remote.query("show create table `" + name + "`", Cursor::Forward);
    tables[toLowerAscii(name)] = rs->eof() ? std::string() : displayText(rs->field(1));
  }
  return tables;
}

ClusterSession prepareClusterSession(Connection& remote, Journal& journal) {
  ClusterSession session;
  {
    std::unique_ptr<Recordset> rs = remote.query(kClusterVariables, Cursor::Forward);
    for (; !rs->eof(); rs->moveNext()) {
      const std::string name = toLowerAscii(displayText(rs->field(0)));
      const std::string value = displayText(rs->field(1));
      if (name == "wsrep_on") session.node = equalsIgnoreCase(value, "ON");
      if (name == "wsrep_max_ws_size") session.maxWriteSet = std::atoll(value.c_str());
      if (name == "wsrep_node_name") session.nodeName = value;
      if (name == "wsrep_mode") {
        session.requiresPrimaryKey =
            toLowerAscii(value).find("required_primary_key") != std::string::npos;
      }
    }
  }
  if (!session.node) {
    session.nodeName.clear();
    return session;
  }
  if (session.maxWriteSet > 0) {
    const long long fragment = fragmentBytesFor(session.maxWriteSet);
    try {
      remote.execute(fmt::format(
          "SET SESSION wsrep_trx_fragment_unit = 'bytes', wsrep_trx_fragment_size = {}", fragment));
      session.fragmentBytes = fragment;
    } catch (const AgentError& e) {
      // A server without streaming replication still takes every load and
      // merge smaller than its limit.
      journal.warning(fmt::format(
          "cluster node {}: write sets not replicated in fragments (a load or merge over "
          "wsrep_max_ws_size = {} bytes is refused): {}",
          session.nodeName, session.maxWriteSet, e.text()));
    }
  }
  session.stagingDefinitions = tableDefinitions(remote, !session.requiresPrimaryKey);
  journal.info(fmt::format(
      "cluster node {}: write-set limit {} bytes, transactions replicated in fragments of {} "
      "bytes{}",
      session.nodeName, session.maxWriteSet, session.fragmentBytes,
      session.requiresPrimaryKey
          ? ", primary keys required: staging tables made from their tables' definitions"
          : ""));
  return session;
}

std::string stagingCreateFromDefinition(const std::string& targetCreate, const std::string& staging,
                                        bool ifNotExists) {
  // "CREATE TABLE `name` (\n  `col` ...,\n  KEY ...\n) ENGINE=..."
  const std::size_t open = targetCreate.find(" (\n");
  const std::size_t close = targetCreate.rfind("\n)");
  if (targetCreate.rfind("CREATE TABLE ", 0) != 0 || open == std::string::npos ||
      close == std::string::npos || close < open) {
    return "";
  }
  std::vector<std::string> lines;
  bool keyed = false, autoIncrement = false;
  for (const std::string& line : split(targetCreate.substr(open + 3, close - open - 3), '\n')) {
    std::string kept = trim(line);
    if (kept.find("FOREIGN KEY ") != std::string::npos) continue;
    if (!kept.empty() && kept.back() == ',') kept.pop_back();
    keyed = keyed || kept.rfind("PRIMARY KEY ", 0) == 0;
    autoIncrement = autoIncrement || kept.find(" AUTO_INCREMENT") != std::string::npos;
    lines.push_back("  " + kept);
  }
  if (!keyed) {
    if (autoIncrement) return "";
    lines.insert(lines.begin(),
                 fmt::format("  `{}` bigint unsigned NOT NULL AUTO_INCREMENT", kStagingKeyColumn));
    lines.push_back(fmt::format("  PRIMARY KEY (`{}`)", kStagingKeyColumn));
  }
  std::string body;
  for (const std::string& line : lines) body += (body.empty() ? "" : ",\n") + line;
  return fmt::format("CREATE TABLE {}`{}` (\n{}{}", ifNotExists ? "IF NOT EXISTS " : "", staging,
                     body, targetCreate.substr(close));
}

std::string portalIdentity(Connection& remote) {
  std::string server, database;
  {
    std::unique_ptr<Recordset> rs = remote.query(
        "select concat(@@hostname, ':', @@port), ifnull(database(), '')", Cursor::Forward);
    if (!rs->eof()) {
      server = displayText(rs->field(0));
      database = displayText(rs->field(1));
    }
  }
  std::unique_ptr<Recordset> rs =
      remote.query("show status like 'wsrep_cluster_state_uuid'", Cursor::Forward);
  const std::string cluster = rs->eof() ? std::string() : displayText(rs->field(1));
  return (cluster.empty() ? server : "cluster " + cluster) + "/" + database;
}

}  // namespace agent
