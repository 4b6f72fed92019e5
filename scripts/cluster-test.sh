#!/usr/bin/env bash
# The agent against a three-node Galera cluster on loopback (scripts/galera.sh),
# started once for every case here and stopped at the end:
#   - a cycle through node 1 (the account lists all three nodes) leaves every
#     portal table on node 3 equal to node 1's, row for row (CHECKSUM TABLE);
#   - node 1 killed: the next cycle is passed on to node 2 by itself and ends
#     with its end stamp, node 3 equal to node 2 again.
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

echo "cluster-test: $failures failure(s), $(($(date +%s) - started)) s in all"
[ "$failures" -eq 0 ]
