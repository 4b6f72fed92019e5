#!/usr/bin/env bash
# Sets everything up and runs the agent's main job on the embedded default:
# a demo program folder (build/demo) with its three configuration files, a
# demo local database in the embedded engine, a throwaway MariaDB server on
# loopback holding the portal's schema, one upload cycle, and a summary.
#
#   scripts/demo.sh            build, prepare, run one cycle, summarise
#   scripts/demo.sh --inspect  start the demo's MariaDB again and open the
#                              mariadb client on the portal database
#
# DEMO_DIR=path puts the demo program folder elsewhere (the test command's
# check of the README's order does). No server is left running when it ends;
# nothing outside the repository's build folder (or DEMO_DIR) is written (ODBC drivers are registered in a private
# odbcinst.ini).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

DEMO="${DEMO_DIR:-$root/build/demo}"
REMOTE_DB="hostacct_qora_demo"
REMOTE_USER="hostacct_demou"
REMOTE_PASSWORD="Portal-Demo-2"

source scripts/mariadb.sh
source scripts/demo-lib.sh
trap 'mariadb_stop' EXIT
mkdir -p "$DEMO"
odbc_write_private_ini "$DEMO/odbc"
# The demo's portal server serves TLS with a certificate of a demo CA.
MARIADB_TLS_DIR="$DEMO/tls"
DEMO_TLS_CA="$MARIADB_TLS_DIR/ca.pem"

remote_sql() {
  mariadb --no-defaults --protocol=socket --socket="$MARIADB_SOCKET" --user=root "$@"
}

if [ "${1:-}" = "--inspect" ]; then
  [ -d "$DEMO/remote-data" ] || { echo "demo: run scripts/demo.sh first" >&2; exit 1; }
  demo_portal_start "$DEMO" >/dev/null
  remote_sql "$REMOTE_DB"
  exit 0
fi

scripts/setup.sh

echo "demo: portal database $REMOTE_DB (MariaDB on loopback)"
rm -rf "$DEMO/remote-data" "$MARIADB_TLS_DIR"
mariadb_make_certs "$MARIADB_TLS_DIR"
mariadb_start "$DEMO/remote-data" "$(mariadb_free_port)"
mariadb_create_account "$REMOTE_USER" "$REMOTE_PASSWORD"
echo "demo: program folder $DEMO, local database $DEMO_LOCAL_DB (embedded engine)"
demo_prepare build "$DEMO" 127.0.0.1 "$MARIADB_PORT" "$REMOTE_USER" "$REMOTE_PASSWORD" "$REMOTE_DB"
echo "demo: the portal has taken four gateway payments"
demo_payments build

echo "demo: one upload cycle"
status=0
build/bin/upload-agent --home "$DEMO" --once || status=$?

echo
echo "== cycle journal ($DEMO/log/agent.log) =="
tail -n 40 "$DEMO/log/agent.log"
echo
echo "== remote control stamps =="
remote_sql "$REMOTE_DB" -e "select flastupdstarttime, flastupdendtime from control"
echo "== remote rows per table =="
for t in $(remote_sql "$REMOTE_DB" -N -e "show tables"); do
  printf '%-22s %s\n' "$t" "$(remote_sql "$REMOTE_DB" -N -e "select count(*) from \`$t\`")"
done
cat <<TXT

Look further:
  local database:  build/bin/agent-sql --home $DEMO -S $DEMO/$DEMO_LOCAL_SERVER -U SA -P $DEMO_SA_PASSWORD -d $DEMO_LOCAL_DB -Q "select * from rechead"
  portal database: scripts/demo.sh --inspect   (starts the demo's MariaDB again, opens the mariadb client)
  export files:    ls $DEMO/CSV
TXT
if [ "$status" -ne 0 ]; then
  echo "demo: the cycle did not stamp its end (exit status $status); see the journal above" >&2
fi
exit "$status"
