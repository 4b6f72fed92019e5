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
# Conflicts and lost nodes (the block "conflicts and lost nodes" below):
#   - node 3 after the first cycle equals a fresh load of the same local data
#     into an empty portal on a single server, row for row;
#   - a portal writer on node 2 rewrites the pending payments while the
#     agent books them and marks them through node 1: every payment is booked
#     once locally and marked once, with its receipt, on the portal;
#   - node 1 killed while the studsub merge waits there for a lock: the
#     cycle ends with a line naming node 1, the next runs on node 2, and
#     every table equals a fresh load again.
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
trap 'galera_stop; mariadb_stop; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$(date +%s)
galera_start "$work/cluster" || exit 1
echo "cluster-test: three nodes up in $(($(date +%s) - started)) s"
galera_create_account agent Cluster-pw || exit 1
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

# ---- conflicts and lost nodes: helpers ----------------------------------------

# The local database's program folder copied as it is now, loaded by one
# cycle into an empty portal on a private single server (started once):
# what every cluster node must hold after a cycle on the same local data.
# Writes the portal's tables to the folder $work/fresh-<label>.
fault_fresh_load() {
  local label="$1" copy="$work/home-$1"
  if [ -z "${MARIADB_PID:-}" ]; then
    if ! mariadb_start "$work/single" "$(mariadb_free_port)" >"$work/single.log" 2>&1; then
      cat "$work/single.log"
      return 1
    fi
    mariadb_create_account agent Cluster-pw || return 1
  fi
  rm -rf "$copy"
  cp -a "$home" "$copy" && rm -rf "$copy/log"
  _mariadb_client -e "DROP DATABASE IF EXISTS portal; CREATE DATABASE portal" &&
    _mariadb_client portal <schema/remote.sql || return 1
  sed -i "s/^server = .*/server = 127.0.0.1:$MARIADB_PORT/" "$copy/remote-accounts.ini"
  timeout 300 build/bin/upload-agent --home "$copy" --once >"$work/fresh-$label.out" 2>&1 ||
    { echo "fresh load $label failed: $(tail -5 "$work/fresh-$label.out")" >&2; return 1; }
  fault_dump "$work/fresh-$label" _mariadb_client
}

# Every mirrored table's rows through the client command given, sorted, one
# file per table in folder: all columns but the auto-increment ones (a
# cluster hands out every third number) and studfee's fdeleted (the fee
# merge's mark: F in a row inserted by the last cycle, NULL in one it
# matched, so a fresh load and a later cycle differ there). Left out: the control stamps
# (times of each cycle), the portal's payment table (the agent only marks
# it; checked row by row), the agent's staging tables (tmp*, working copies
# of the last load) and the tables named in FAULT_SKIP.
fault_dump() {
  local folder="$1" table columns
  shift
  rm -rf "$folder" && mkdir -p "$folder"
  for table in $("$@" -N -B portal -e "show tables"); do
    case " control rzp_paymentgateway ${FAULT_SKIP:-} " in *" $table "*) continue ;; esac
    case "$table" in tmp*) continue ;; esac
    columns="$("$@" -N -B -e "select group_concat(concat('\`', column_name, '\`')
      order by ordinal_position) from information_schema.columns where table_schema = 'portal'
      and table_name = '$table' and extra not like '%auto_increment%'
      and concat(table_name, '.', column_name) <> 'studfee.fdeleted'")"
    "$@" -N -B portal -e "select $columns from \`$table\`" | LC_ALL=C sort >"$folder/$table"
  done
}

# The client of node FAULT_NODE.
node_client() { galera_client "${FAULT_NODE:?}" "$@"; }

# Node n's tables against the fresh load <label>, row for row; names each
# table that differs and its first differing rows.
fault_compare() {
  local n="$1" label="$2" table
  FAULT_NODE="$n" fault_dump "$work/node$n-$label" node_client
  for table in $( (ls "$work/fresh-$label" && ls "$work/node$n-$label") | sort -u); do
    cmp -s "$work/fresh-$label/$table" "$work/node$n-$label/$table" && continue
    fail "node $n's $table differs from a fresh load ($label; < fresh, > node):
$(diff "$work/fresh-$label/$table" "$work/node$n-$label/$table" 2>&1 | grep '^[<>]' |
      sort -k1.3 | head -6)"
  done
  [ "$(find "$work/fresh-$label" -type f | wc -l)" -gt 10 ] || fail "the fresh load ($label) holds no tables"
}

# The local receipts of the test's payments and the portal's marks, one
# "order id|receipt" line each, sorted.
fault_local_bookings() {
  build/bin/agent-sql --home "$home" -S "$home/local-server" -U SA -P "$DEMO_SA_PASSWORD" -d "$DEMO_LOCAL_DB" \
    -Q "select h.fremarks, h.frecno from rechead h join paygate g on g.forderid = h.fremarks
        where h.fremarks like 'order_cl_%'" | tail -n +2 | tr -d ' \r' | sort
}
fault_portal_marks() {
  galera_client "$1" -N -B portal -e "select forderid, ifnull(frecno, 'NONE') from
    rzp_paymentgateway where forderid like 'order_cl_%'" | tr '\t' '|' | sort
}

# A portal writer on node 2 rewrites the payment rows (their mode, back and
# forth) in bursts of updates as fast as node 2 takes them, a second apart, while the agent books them and marks them through node 1: the
# marks meet certification conflicts (1213) during a burst and are sent
# again. (A writer that never pauses can refuse a mark four times running;
# that cycle then ends and the next one marks the payment.)
fault_writer() {
  local update="update rzp_paymentgateway set fmodeofpayment = if(fmodeofpayment = binary 'UPI',
      'upi', 'UPI') where forderid like 'order_cl_%';" i
  while [ -e "$work/writer.run" ]; do
    for i in $(seq 1 400); do echo "$update"; done
    echo "do sleep(1);"
  done | galera_client 2 portal --force >/dev/null 2>&1
}

fault_payment_writer() {
  local payments=300 status refused
  galera_client 1 portal -e "insert into rzp_paymentgateway (fdate, fadmno, famtpaidtoinst,
      forderid, ftransactionid, fmodeofpayment, fstatus) select now() - interval seq minute,
      concat('S', lpad(seq, 5, '0')), 100, concat('order_cl_', seq), concat('pay_cl_', seq),
      'UPI', 'captured' from seq_1_to_$payments" || { fail "could not write the payments"; return; }
  touch "$work/writer.run"
  fault_writer &
  local writer=$!
  sleep 1
  status="$(run_cycle payments)"
  rm -f "$work/writer.run"
  wait "$writer"
  [ "$status" = 0 ] ||
    fail "payment cycle under a writer ended with status $status: $(grep -h 'cycle ended' "$home/log"/* | tail -2)"
  refused="$(cat "$home/log"/* | grep -c 'payment mark: refused by')"
  echo "cluster-test: $refused payment mark(s) refused for a conflict and sent again" \
    "($(grep -h 'stage payment posting: ' "$home/log"/* | tail -1 | sed 's/.*: //'))"
  [ "$refused" -gt 0 ] || [ "$status" != 0 ] ||
    echo "cluster-test: warning: the writer provoked no conflict; the retry went untried"
  local booked marked
  booked="$(fault_local_bookings)"
  marked="$(fault_portal_marks 3)"
  [ "$(echo "$booked" | grep -c .)" = "$payments" ] ||
    fail "$(echo "$booked" | grep -c .) of $payments payments booked locally"
  [ -z "$(echo "$booked" | cut -d'|' -f1 | uniq -d)" ] || fail "a payment was booked twice"
  [ "$booked" = "$marked" ] || fail "the portal's marks differ from the local receipts:
$(diff <(echo "$booked") <(echo "$marked") | head -5)"
}

# Node 1 killed while the cycle's studsub merge waits there for the row
# locks an open transaction on node 1 holds.
fault_kill_mid_load() {
  galera_client 1 portal -e "start transaction; select count(*) from studsub for update;
    select sleep(120)" >/dev/null 2>&1 &
  local holder=$! started waited
  timeout 300 build/bin/upload-agent --home "$home" --once >"$work/killed.out" 2>&1 &
  local agent_pid=$!
  for waited in $(seq 1 240); do
    [ "$(galera_client 1 -N -B -e "select count(*) from information_schema.innodb_trx
      where trx_state = 'LOCK WAIT'" 2>/dev/null)" = 1 ] && break
    sleep 0.25
  done
  [ "$waited" -lt 240 ] || fail "the studsub merge never waited on node 1"
  started=$(date +%s)
  galera_kill 1
  wait "$agent_pid"
  local status=$? took=$(($(date +%s) - started))
  wait "$holder" 2>/dev/null
  echo "cluster-test: node 1 killed in the studsub merge; the cycle ended ${took} s later"
  [ "$status" != 0 ] || fail "the cycle that lost node 1 reported success"
  [ "$took" -le 30 ] || fail "the cycle that lost node 1 took $took s to end"
  grep -hqs "cycle ended.* in stage studsub, remote statement .* on 127.0.0.1:${GALERA_PORTS[1]}:" \
    "$home/log"/* || fail "no journal line names node 1 and the studsub stage"
  galera_wait_members 2 2 60 || { fail "nodes 2 and 3 did not form a primary component"; return; }
  status="$(run_cycle after-kill)"
  [ "$status" = 0 ] || fail "the cycle after node 1 was lost ended with status $status"
  grep -hqs "remote connection: 127.0.0.1:${GALERA_PORTS[2]}" "$home/log"/* ||
    fail "the cycle after the kill did not run on node 2"
  # The messages the first cycle sent are marked locally and no longer
  # sent: a fresh load of today's local data has none of them.
  FAULT_SKIP=smslog fault_fresh_load after-kill || { fail "no fresh load after the kill"; return; }
  FAULT_SKIP=smslog fault_compare 2 after-kill
  FAULT_SKIP=smslog fault_compare 3 after-kill
}

# ---- end of conflicts and lost nodes: helpers ---------------------------------

# The same local data loaded into an empty portal on a single server, made
# before the first cycle (a cycle writes the local database).
fault_fresh_load first || fail "no fresh load of the local data"

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

# ---- conflicts and lost nodes: the cases ----------------------------------------

# The first cycle's result against a fresh load of the same local data,
# copied before the cycle ran (a cycle writes the local database: the
# messages it sent are marked).
fault_compare 3 first
# Needs node 1: before the cases that kill it.
check_large_write_sets
fault_payment_writer
fault_kill_mid_load

# ---- end of conflicts and lost nodes: the cases --------------------------------

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
