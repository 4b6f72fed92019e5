#!/usr/bin/env bash
# The agent against a three-node Galera cluster on loopback (scripts/galera.sh),
# started once for every case here and stopped at the end:
#   - a cycle through node 1 (the account lists all three nodes) leaves every
#     portal table on node 3 equal to node 1's, row for row (CHECKSUM TABLE);
#   - node 1 killed: the next cycle is passed on to node 2 by itself and ends
#     with its end stamp, node 3 equal to node 2 again;
#   - a write-set limit (wsrep_max_ws_size) under the largest table's load,
#     primary keys required: the cycle still brings every table whole to
#     every node, a keyless table's staging table keyed;
#   - change detection: the cycle on node 2 after node 1 was lost merges the
#     unchanged tables changes only.
# Needs build/ built (upload-agent, agent-sql, demo-data). Exit status 0 when
# every case passed.
set -uo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/mariadb.sh
source scripts/mariadb.sh
# shellcheck source=scripts/galera.sh
source scripts/galera.sh
# shellcheck source=scripts/demo-lib.sh
source scripts/demo-lib.sh

galera_install || exit 1
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base="${TMPDIR:-/tmp}"
work="$(mktemp -d "$base/agent-cluster.XXXXXX")"
# The nodes run as mysql and must reach their folders inside.
chmod 755 "$work"
trap 'galera_stop; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$(date +%s)
galera_start "$work/cluster" || exit 1
echo "cluster-test: three nodes up in $(($(date +%s) - started)) s"
# A node just joined may still refuse statements for a moment (1047).
galera_wait_members 1 3 60 || exit 1
for attempt in $(seq 1 30); do
  galera_client 1 -e "CREATE OR REPLACE USER 'agent'@'%' IDENTIFIED BY 'Cluster-pw';
    GRANT ALL PRIVILEGES ON *.* TO 'agent'@'%' WITH GRANT OPTION;" 2>/dev/null && break
  [ "$attempt" -lt 30 ] || { echo "cluster-test: could not create the account" >&2; exit 1; }
  sleep 1
done
odbc_write_private_ini "$work/odbc"

home="$work/home"
DEMO_TLS_CA="" demo_prepare build "$home" 127.0.0.1 "${GALERA_PORTS[1]}" agent Cluster-pw portal \
  >"$work/prepare.log" 2>&1 || { cat "$work/prepare.log"; exit 1; }
# The nodes serve no TLS here; the account names every node.
sed -i 's/^tls = .*/tls = off/' "$home/platform.ini"
sed -i 's/^connect_timeout = .*/connect_timeout = 5/' "$home/platform.ini"
hosts="127.0.0.1:${GALERA_PORTS[1]}, 127.0.0.1:${GALERA_PORTS[2]}, 127.0.0.1:${GALERA_PORTS[3]}"
sed -i "s/^server = .*/server = $hosts/; /^port = /d" "$home/remote-accounts.ini"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Every portal table's row count and checksum on node n.
table_sums() {
  local n="$1" table
  for table in $(galera_client "$n" -N -B portal -e "show tables"); do
    galera_client "$n" -N -B portal -e "select '$table', count(*) from \`$table\`;
      checksum table \`$table\`" | tr '\n' ' '
    echo
  done
}

run_cycle() {
  local name="$1"
  timeout 300 build/bin/upload-agent --home "$home" --once >"$work/$name.out" 2>&1
  echo $?
}

# A full cycle through node 1.
status="$(run_cycle first)"
[ "$status" = 0 ] || fail "first cycle ended with status $status: $(tail -5 "$work/first.out")"
galera_wait_members 3 3 30 || fail "cluster lost a member in the first cycle"
if [ "$(table_sums 1)" != "$(table_sums 3)" ]; then
  fail "node 3's tables differ from node 1's after the first cycle"
fi
[ "$(galera_client 3 -N -B portal -e "select count(*) from student")" -gt 0 ] ||
  fail "no students reached node 3"
students="$(galera_client 1 -N -B portal -e "select count(*) from student")"

# ---- Write sets over the cluster's limit; change detection across nodes ----
# These cases keep a home and portal database of their own (change detection
# on), so that the cases around them see what they always saw.

# Prepares home <name> from the main home's settings for portal database
# <db>, change detection on, with a local database of the university
# profile (1,000 students: 20,000 studsub rows, a load of about 1 MB); with
# <from>, a copy of that home's local database instead.
writeset_home() {
  local name="$1" db="$2" from="${3:-}" dir="$work/$1"
  rm -rf "$dir"
  mkdir -p "$dir/CSV"
  cp "$home/platform.ini" "$home/remote-accounts.ini" "$home/Ostrel.INI" "$dir/"
  sed -i "s/^database = .*/database = $db/; s/^\\[$DEMO_INSTITUTION\\]/[P028]/" \
    "$dir/remote-accounts.ini"
  printf '\n[upload]\nchanges_only = yes\n' >>"$dir/platform.ini"
  if [ -n "$from" ]; then
    cp -a "$work/$from/$DEMO_LOCAL_SERVER" "$dir/"
  else
    cp -a "$home/$DEMO_LOCAL_SERVER" "$dir/"
    rm -f "$dir/$DEMO_LOCAL_SERVER/$DEMO_LOCAL_DB".sqlite*
    local sql=(build/bin/agent-sql --home "$dir" -S "$dir/$DEMO_LOCAL_SERVER" -U SA
      -P "$DEMO_SA_PASSWORD")
    "${sql[@]}" -Q "CREATE DATABASE $DEMO_LOCAL_DB" >/dev/null &&
      "${sql[@]}" -d "$DEMO_LOCAL_DB" -i schema/local.sql >/dev/null &&
      build/bin/demo-data --home "$dir" --connect "Driver={SQL Server};Server=$dir/$DEMO_LOCAL_SERVER;Uid=SA;Pwd=$DEMO_SA_PASSWORD;" \
        --database "$DEMO_LOCAL_DB" --institution P028 --profile university --students 1000 \
        >/dev/null || return 1
  fi
  galera_client 1 -e "DROP DATABASE IF EXISTS $db; CREATE DATABASE $db" &&
    galera_client 1 "$db" <schema/remote.sql
}

# One cycle of home <name>; its journal goes to <name>-<run>.out.
writeset_cycle() {
  local name="$1" run="$2" status
  rm -rf "${work:?}/$name/log"
  timeout 300 build/bin/upload-agent --home "$work/$name" --once >"$work/$name-$run.out" 2>&1
  status=$?
  cat "$work/$name"/log/* >>"$work/$name-$run.out" 2>/dev/null
  echo "$status"
}

# Row count and checksum of every portal table of database <db> on node n
# but control (which carries each cycle's own stamps); the agent's staging
# tables left out.
database_sums() {
  local n="$1" db="$2" table
  for table in $(galera_client "$n" -N -B "$db" -e "show tables" | grep -v -x -e control -e 'tmp.*'); do
    galera_client "$n" -N -B "$db" -e "select '$table', count(*) from \`$table\`;
      checksum table \`$table\`" | sed "s/^$db\.//" | tr '\n' ' '
    echo
  done
}

# A write-set limit under the largest table's load: one cycle still brings
# every table whole to every node, equal to a cycle under the default limit.
# The cluster requires primary keys there, and the portal's college has a
# unique key only: its staging table must get a key of its own.
check_large_write_sets() {
  local limit=262144 saved saved_mode n status
  saved="$(galera_client 1 -N -B -e "select @@global.wsrep_max_ws_size")"
  saved_mode="$(galera_client 1 -N -B -e "select @@global.wsrep_mode")"
  writeset_home ws portal_ws && writeset_home ref portal_ref ws &&
    galera_client 1 portal_ws -e "ALTER TABLE college DROP PRIMARY KEY,
      ADD UNIQUE KEY college_code (fcollcode)" ||
    { fail "could not prepare the write-set homes"; return; }
  for n in 1 2 3; do
    galera_client "$n" -e "SET GLOBAL wsrep_max_ws_size = $limit,
      wsrep_mode = 'REQUIRED_PRIMARY_KEY'"
  done
  status="$(writeset_cycle ws first)"
  for n in 1 2 3; do
    galera_client "$n" -e "SET GLOBAL wsrep_max_ws_size = $saved, wsrep_mode = '$saved_mode'"
  done
  [ "$(galera_client 3 -N -B -e "select count(*) from information_schema.statistics where
    table_schema = 'portal_ws' and table_name = 'tmpcollege' and index_name = 'PRIMARY'
    and column_name = 'fagentrow'")" = 1 ] || fail "the staging table of a keyless table has no key"
  [ "$status" = 0 ] || fail "cycle under a $limit-byte write-set limit ended with status $status:
$(grep -m3 -i "error\|fail" "$work/ws-first.out")"
  status="$(writeset_cycle ref first)"
  [ "$status" = 0 ] || fail "reference cycle ended with status $status"
  local reference
  reference="$(database_sums 1 portal_ref)"
  [ "$(galera_client 1 -N -B portal_ref -e "select count(*) from studsub")" -gt 10000 ] ||
    fail "the reference studsub is too small to exceed the write-set limit"
  for n in 1 3; do
    [ "$(database_sums "$n" portal_ws)" = "$reference" ] ||
      fail "node $n: tables loaded under the write-set limit differ from the reference:
$(diff <(database_sums "$n" portal_ws) <(echo "$reference") | head -12)"
  done
}

# Node 1 lost: the cycle on node 2 merges the tables it left unchanged
# changes only (the state belongs to the cluster, not to the node).
check_changes_after_node_loss() {
  local status lines
  status="$(writeset_cycle ws second)"
  [ "$status" = 0 ] || { fail "change-detection cycle on node 2 ended with status $status"; return; }
  grep -qs "remote connection: 127.0.0.1:${GALERA_PORTS[2]}" "$work/ws-second.out" ||
    fail "the change-detection cycle after node 1 was lost did not run on node 2"
  lines="$(grep -c ": changes only, " "$work/ws-second.out")"
  [ "$lines" -ge 10 ] || fail "only $lines table(s) merged changes only on node 2"
  grep -s ": full merge (" "$work/ws-second.out" >&2 &&
    fail "the cycle on node 2 merged unchanged tables in full"
}

check_large_write_sets

# Node 1 lost: the next cycle goes to node 2 by itself.
galera_kill 1
galera_wait_members 2 2 60 || fail "nodes 2 and 3 did not form a primary component"
galera_client 2 portal -e "delete from student limit 5" || fail "could not change node 2"
status="$(run_cycle second)"
[ "$status" = 0 ] || fail "cycle after node 1 was lost ended with status $status"
grep -rqs "remote connection: 127.0.0.1:${GALERA_PORTS[2]}" "$home/log" "$work/second.out" ||
  fail "the cycle after node 1 was lost did not name node 2"
if [ "$(table_sums 2)" != "$(table_sums 3)" ]; then
  fail "node 3's tables differ from node 2's after the second cycle"
fi
[ "$(galera_client 2 -N -B portal -e "select count(*) from student")" = "$students" ] ||
  fail "the students removed on node 2 were not brought back by the cycle through node 2"

check_changes_after_node_loss

echo "cluster-test: $failures failure(s), $(($(date +%s) - started)) s in all"
[ "$failures" -eq 0 ]
