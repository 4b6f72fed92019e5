// The remote session on a portal that is a Galera cluster node. A cluster
// refuses a transaction whose write set is larger than its limit
// (wsrep_max_ws_size, error 1105 "Maximum writeset size exceeded"): a large
// staging load or merge update would fail the table every cycle and leave
// its old rows. On a node, the session replicates any transaction in
// fragments well under that limit (streaming replication), so each load
// and merge stays one statement with the single server's result; a
// transaction smaller than a fragment replicates whole, as before.
//
// A cluster replicates a table without a primary key with a scan per row on
// the other nodes, and under wsrep_mode REQUIRED_PRIMARY_KEY refuses to
// create one, and refuses CREATE TABLE ... LIKE altogether: the cycle reads
// the definitions of the portal tables whose staging tables it must make
// from them, with a key of their own where the portal's table has none.
#ifndef AGENT_CYCLE_CLUSTER_SESSION_H_
#define AGENT_CYCLE_CLUSTER_SESSION_H_

#include <map>
#include <string>

#include "cycle/journal.h"
#include "db/connection.h"

namespace agent {

struct ClusterSession {
  bool node = false;            // the server is a cluster node (wsrep_on)
  std::string nodeName;         // wsrep_node_name; empty off a cluster
  long long maxWriteSet = 0;    // wsrep_max_ws_size, bytes
  long long fragmentBytes = 0;  // the session's fragment size; 0: not streaming
  // The node requires primary keys (wsrep_mode REQUIRED_PRIMARY_KEY).
  bool requiresPrimaryKey = false;
  // Portal tables (lower case) whose staging tables are made from their
  // definitions (SHOW CREATE TABLE) instead of LIKE: on a node those without
  // a primary key, and every table where the node requires primary keys.
  std::map<std::string, std::string> stagingDefinitions;
};

// The column the agent's staging table of a keyless portal table is keyed
// by; the loads and merges never name it.
inline constexpr const char* kStagingKeyColumn = "fagentrow";

// The statement that makes staging (a staging table) like the portal table
// whose SHOW CREATE TABLE text is targetCreate: every column and key as the
// target has them, foreign keys left out as CREATE TABLE ... LIKE leaves
// them, and for a target without a primary key one of its own (an
// auto-increment kStagingKeyColumn first). Empty when the text cannot be
// made so (not one table's definition, or a keyless target with an
// auto-increment column of its own).
std::string stagingCreateFromDefinition(const std::string& targetCreate, const std::string& staging,
                                        bool ifNotExists);

// Asks the server whether it is a cluster node; on a node, sets the
// session's streaming replication (a warning in the journal when the
// server refuses it) and reads the definitions its staging tables need. Off a
// cluster it sends one read and changes nothing. Throws as remote.query()
// does.
ClusterSession prepareClusterSession(Connection& remote, Journal& journal);

// The base tables of the remote connection's database (every one, or only
// those without a primary key), lower-case names, each with its SHOW CREATE
// TABLE text. Throws as remote.query() does.
std::map<std::string, std::string> tableDefinitions(Connection& remote, bool keylessOnly);

// The identity of the remote database that change detection's state
// belongs to: off a cluster the server's own, "host:port/database" as the
// server names them; on a cluster node the cluster's state
// (wsrep_cluster_state_uuid, the same on every node of one cluster's
// history) with the database, so that a cycle on another node of the same
// cluster keeps the state. Throws as remote.query() does.
std::string portalIdentity(Connection& remote);

}  // namespace agent

#endif  // AGENT_CYCLE_CLUSTER_SESSION_H_
