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
# No server is left running when it ends; nothing outside the repository's
# build folder is written (ODBC drivers are registered in a private
# odbcinst.ini).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

DEMO="$root/build/demo"
LOCAL_SERVER="local-server"      # the embedded engine's server folder, inside $DEMO
LOCAL_DB="ORBA"
SA_PASSWORD="Demo-Secret-1"
INSTITUTION="P001"               # on the posting list: gateway payments are booked
REMOTE_DB="hostacct_qora_demo"
REMOTE_USER="hostacct_demou"
REMOTE_PASSWORD="Portal-Demo-2"

source scripts/mariadb.sh
trap 'mariadb_stop' EXIT
odbc_write_private_ini "$DEMO/odbc"

remote_sql() {
  mariadb --no-defaults --protocol=socket --socket="$MARIADB_SOCKET" --user=root "$@"
}

if [ "${1:-}" = "--inspect" ]; then
  [ -d "$DEMO/remote-data" ] || { echo "demo: run scripts/demo.sh first" >&2; exit 1; }
  mariadb_start "$DEMO/remote-data" "$(mariadb_free_port)"
  remote_sql "$REMOTE_DB"
  exit 0
fi

scripts/setup.sh
AGENT_SQL=(build/bin/agent-sql --home "$DEMO")

echo "demo: preparing $DEMO"
rm -rf "$DEMO/CSV" "$DEMO/log" "$DEMO/$LOCAL_SERVER" "$DEMO/remote-data"
mkdir -p "$DEMO/$LOCAL_SERVER"
printf '[server]\r\nsa_password = %s\r\n' "$SA_PASSWORD" >"$DEMO/$LOCAL_SERVER/server.ini"
cat >"$DEMO/platform.ini" <<INI
; The demo's local database is the embedded engine; the portal is reached
; through the MariaDB ODBC driver registered under the production name.
[drivers]
SQL Server = embedded
MySQL ODBC 3.51 Driver = odbc:MySQL ODBC 3.51 Driver

[regional]
short_date = dd/MM/yyyy
long_time = hh:mm:ss tt

[export]
code_page = windows-1252

[log]
folder = log
INI
{
  printf '[APATH]\r\nDBASEPATH=SQLSRVR\r\nSERVERNAME=%s\r\nPASSWORD=' "$LOCAL_SERVER"
  printf '%s\n' "$SA_PASSWORD" | build/bin/upload-agent --scramble-password | tr -d '\n'
  printf '\r\nDBNAME=%s\r\n' "$LOCAL_DB"
} >"$DEMO/Ostrel.INI"

echo "demo: local database $LOCAL_DB (embedded engine)"
"${AGENT_SQL[@]}" -S "$LOCAL_SERVER" -U SA -P "$SA_PASSWORD" -Q "CREATE DATABASE $LOCAL_DB"
"${AGENT_SQL[@]}" -S "$LOCAL_SERVER" -U SA -P "$SA_PASSWORD" -d "$LOCAL_DB" -i schema/local.sql
build/bin/demo-data --home "$DEMO" --connect \
  "Driver={SQL Server};Server=$LOCAL_SERVER;Uid=SA;Pwd=$SA_PASSWORD;" \
  --database "$LOCAL_DB" --institution "$INSTITUTION" --students 300

echo "demo: portal database $REMOTE_DB (MariaDB on loopback)"
port="$(mariadb_free_port)"
mariadb_start "$DEMO/remote-data" "$port"
mariadb_create_account "$REMOTE_USER" "$REMOTE_PASSWORD"
remote_sql -e "CREATE DATABASE $REMOTE_DB"
remote_sql "$REMOTE_DB" <schema/remote.sql
cat >"$DEMO/remote-accounts.ini" <<INI
; One section per institution code: the portal account of that institution.
[$INSTITUTION]
user = $REMOTE_USER
password = $REMOTE_PASSWORD
server = 127.0.0.1
database = $REMOTE_DB
port = $port
INI
remote_conn="DRIVER={MySQL ODBC 3.51 Driver};SERVER=127.0.0.1;DATABASE=$REMOTE_DB;UID=$REMOTE_USER;PWD=$REMOTE_PASSWORD; OPTION=3;PORT=$port"
if [ -x build/bin/portal-sim ]; then
  build/bin/portal-sim --connect "$remote_conn" --payments 5 --local-home "$DEMO" \
    --local-connect "Driver={SQL Server};Server=$LOCAL_SERVER;Uid=SA;Pwd=$SA_PASSWORD;" \
    --local-database "$LOCAL_DB" || echo "demo: portal simulator failed (payments not simulated)"
fi

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
  local database:  build/bin/agent-sql --home build/demo -S $LOCAL_SERVER -U SA -P $SA_PASSWORD -d $LOCAL_DB -Q "select * from rechead"
  portal database: scripts/demo.sh --inspect   (starts the demo's MariaDB again, opens the mariadb client)
  export files:    ls build/demo/CSV
TXT
if [ "$status" -ne 0 ]; then
  echo "demo: the cycle did not stamp its end (exit status $status); see the journal above" >&2
fi
exit "$status"
