#!/usr/bin/env bash
# Whole cycles on a three-node Galera cluster on loopback (scripts/galera.sh)
# against their floor there, and against the same cycles on one server:
#
#   bench/cluster-bench.sh [--students N] [--runs R] [--build DIR] [--agent-core yes]
#
# Runs build/bin/cycle_bench R times (default 3) with N students (default
# 5000) pointed at node 1, then R times at one private server
# (scripts/test-env.sh), the agent reaching both without TLS, as the floor's
# client does. Prints each run's lines and, per cycle, the medians: agent
# seconds and agent/floor on the cluster, agent seconds on one server, and
# cluster/single. The local database is made once and kept for every run.
# Between the two, it times a staging merge of 100,000 rows on node 1 with
# and without the streaming replication the agent's session sets (see
# fragment_check). With --agent-core yes the nodes run on every processor
# but the first and the agent (with the floor's client) on the first alone,
# as an office's agent runs on a machine of its own beside the portal's
# cluster: on two cores shared by all, the agent's own export work (reading
# the local database, writing the files) takes processor time from the nodes
# that the floor, fed from files already written, never needs.
set -uo pipefail
cd "$(dirname "$0")/.."
students=5000 runs=3 build=build agent_core=no
while [ $# -gt 1 ]; do
  case "$1" in
    --students) students="$2" ;;
    --runs) runs="$2" ;;
    --build) build="$2" ;;
    --agent-core) agent_core="$2" ;;
    *) echo "usage: $0 [--students N] [--runs R] [--build DIR]" >&2; exit 2 ;;
  esac
  shift 2
done
# shellcheck source=scripts/mariadb.sh
source scripts/mariadb.sh
# shellcheck source=scripts/galera.sh
source scripts/galera.sh

galera_install || exit 1
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base="${TMPDIR:-/tmp}"
work="$(mktemp -d "$base/agent-cluster-bench.XXXXXX")"
chmod 755 "$work"
trap 'galera_stop; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# The nodes run as mysql and write the general log into the bench's folder.
mkdir -p "$work/cb"
chmod 777 "$work/cb"

if [ "$agent_core" = yes ]; then
  last=$(($(nproc) - 1))
  [ "$last" -ge 1 ] || { echo "cluster-bench: --agent-core needs two processors" >&2; exit 2; }
  taskset -cp "1-$last" $$ >/dev/null
fi
galera_start "$work/cluster" || exit 1
[ "$agent_core" = yes ] && taskset -cp 0 $$ >/dev/null
galera_create_account agent Cluster-pw || exit 1
odbc_write_private_ini "$work/odbc"

# What the agent's session setting costs when no fragment is replicated: a
# staging merge of 100,000 rows (load, UPDATE ... JOIN, insert load) through
# the mariadb client on node 1, with and without the session's streaming
# replication at the fragment size of the default limit, alternating, five
# pairs after one run that fills the table; the medians.
fragment_check() {
  local rows="$work/rows.txt" i mode setting start
  awk 'BEGIN { for (i = 0; i < 100000; ++i)
    printf "C%d|D%d|%d|S%02d|%06d|%d|%d|F\r\n", i % 3, i % 4, i % 2, i % 20, int(i / 20), i % 100, i % 50 }' >"$rows"
  galera_client 1 -e "CREATE DATABASE fragment_check; CREATE TABLE fragment_check.t (a VARCHAR(10),
    b VARCHAR(10), c VARCHAR(5), d VARCHAR(10), e VARCHAR(10), m INT, n INT, f CHAR(3),
    PRIMARY KEY (a, b, c, d, e))" || return
  fragment_merge() {
    galera_client 1 --local-infile=1 fragment_check -e "$1
      DROP TABLE IF EXISTS tmpt; CREATE TABLE IF NOT EXISTS tmpt LIKE t;
      LOAD DATA LOCAL INFILE '$rows' INTO TABLE tmpt FIELDS TERMINATED BY '|' (a, b, c, d, e, m, n, f);
      UPDATE t, tmpt SET t.m = tmpt.m + 1, t.n = tmpt.n WHERE t.a = tmpt.a AND t.b = tmpt.b
        AND t.c = tmpt.c AND t.d = tmpt.d AND t.e = tmpt.e;
      LOAD DATA LOCAL INFILE '$rows' INTO TABLE t FIELDS TERMINATED BY '|' (a, b, c, d, e, m, n, f);
      DROP TABLE tmpt"
  }
  fragment_merge ""
  : >"$work/fragments.log"
  for i in 1 2 3 4 5; do
    for mode in whole fragments; do
      setting=""
      [ "$mode" = fragments ] &&
        setting="SET SESSION wsrep_trx_fragment_unit = 'bytes', wsrep_trx_fragment_size = 536870911;"
      start=$(date +%s%N)
      fragment_merge "$setting" || return
      echo "$mode $(( ($(date +%s%N) - start) / 1000000 ))" | tee -a "$work/fragments.log"
    done
  done
}

export CYCLE_BENCH_TLS=off
for run in $(seq 1 "$runs"); do
  AGENT_TEST_MARIADB_HOST=127.0.0.1 AGENT_TEST_MARIADB_PORT="${GALERA_PORTS[1]}" \
    AGENT_TEST_MARIADB_USER=agent AGENT_TEST_MARIADB_PASSWORD=Cluster-pw \
    "$build/bin/cycle_bench" --students "$students" --work "$work/cb" | tee "$work/cluster-$run.log" ||
    exit 1
done
fragment_check
galera_stop
[ "$agent_core" = yes ] && taskset -cp "0-$last" $$ >/dev/null
for run in $(seq 1 "$runs"); do
  scripts/test-env.sh "$build/bin/cycle_bench" --students "$students" --work "$work/cb" |
    tee "$work/single-$run.log" || exit 1
done

# "  first       agent    5.32 s  floor    2.46 s  ratio  2.17 ... agent cpu
# 1.10 s" -> the median over the runs of field <field> (counted after the
# first "agent"; "cpu": the agent's processor seconds) for cycle <name>.
median() {
  local kind="$1" name="$2" field="$3"
  cat "$work/$kind"-*.log | awk -v n="$name" -v f="$field" '
    { line = $0; sub(/^ +/, "", line) }
    index(line, n " ") == 1 && / agent / {
      line = substr(line, index(line, " agent ") + 7); sub(/^ +/, "", line)
      k = split(line, a, / +/)
      if (f != "cpu") { print a[f]; next }
      for (i = 1; i < k; ++i) if (a[i] == "cpu") print a[i + 1]
    }' |
    sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
echo "medians of $runs runs, $students students (seconds):"
printf '%-11s %8s %8s %12s %10s %8s %15s\n' cycle cluster floor agent/floor "agent cpu" single \
  cluster/single
for name in first full unchanged "1% changed"; do
  # After "agent": <s> s floor <s> s ratio <r>
  agent="$(median cluster "$name" 1)"
  floor="$(median cluster "$name" 4)"
  ratio="$(median cluster "$name" 7)"
  single="$(median single "$name" 1)"
  printf '%-11s %8s %8s %12s %10s %8s %15s\n' "$name" "$agent" "$floor" "$ratio" \
    "$(median cluster "$name" cpu)" "$single" \
    "$(awk -v a="$agent" -v s="$single" 'BEGIN { printf "%.2f", (s > 0 ? a / s : 0) }')"
done
for mode in whole fragments; do
  echo "staging merge of 100,000 rows on node 1, $mode: $(awk -v m="$mode" '$1 == m { print $2 }' \
    "$work/fragments.log" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }') ms (median)"
done
