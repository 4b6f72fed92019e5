# Shell functions that make a demo program folder. Source this file.
#
#   demo_prepare <build> <home> <host> <port> <user> <password> <remote_db>
#       Makes <home> a program folder for the binaries of <build>/bin:
#       platform.ini (the embedded engine for "SQL Server", the native
#       MariaDB driver under the ODBC driver's production name, the portal
#       link verified against the CA certificate DEMO_TLS_CA, by default the
#       test server's AGENT_TEST_TLS_CA), Ostrel.INI with the scrambled SA
#       password, an embedded server folder with a demo local database
#       (schema/local.sql and demo-data), remote-accounts.ini for the demo
#       institution, and the portal database <remote_db> (schema/remote.sql)
#       on the MariaDB server at <host>:<port>, whose account <user> may
#       create databases. The ODBC drivers must be registered already
#       (odbc_write_private_ini of scripts/mariadb.sh).
#   demo_payments <build>
#       Four captured gateway payments on the portal of the folder demo_prepare
#       made last (portal-sim).
#
# Run from the repository's root. DEMO_* variables below name the parts.

DEMO_LOCAL_SERVER="local-server"   # the embedded server folder, inside the program folder
DEMO_LOCAL_DB="ORBA"
DEMO_SA_PASSWORD="Demo-Secret-1"
DEMO_INSTITUTION="P001"            # on the posting list: gateway payments are booked
DEMO_REMOTE_CONNECTION=""          # set by demo_prepare
DEMO_TLS_CA="${DEMO_TLS_CA:-${AGENT_TEST_TLS_CA:-}}"  # the portal server's CA certificate

# Starts the portal server a demo folder $1 left behind (scripts/demo.sh:
# its data in $1/remote-data, its TLS files in $1/tls), on the port the
# folder's remote-accounts.ini names, serving TLS as the demo made it: the
# agent verifies the server, so a server restarted without TLS would refuse
# every cycle. demo.sh --inspect and the tray screenshot use it.
demo_portal_start() {
  local demo="$1" port
  port="$(sed -n 's/^port *= *\([0-9]*\).*/\1/p' "$demo/remote-accounts.ini" | head -n 1)"
  [ -n "$port" ] || { echo "demo: no port in $demo/remote-accounts.ini" >&2; return 1; }
  MARIADB_TLS_DIR="$demo/tls"
  mariadb_start "$demo/remote-data" "$port"
}

demo_prepare() {
  local build="$1" home="$2" host="$3" port="$4" user="$5" password="$6" remote_db="$7"
  local sql=("$build/bin/agent-sql" --home "$home")
  # The settings files hold passwords: whatever this shell's umask, they are
  # made readable by their owner alone.
  local saved_umask
  saved_umask="$(umask)"
  umask 077
  mkdir -p "$home"
  rm -rf "${home:?}/CSV" "$home/log" "$home/$DEMO_LOCAL_SERVER"
  mkdir -p "$home/$DEMO_LOCAL_SERVER"
  printf '[server]\r\nsa_password = %s\r\n' "$DEMO_SA_PASSWORD" >"$home/$DEMO_LOCAL_SERVER/server.ini"
  local tls="tls = verify-identity
tls_ca = $DEMO_TLS_CA"
  [ -n "$DEMO_TLS_CA" ] || tls="tls = required"
  cat >"$home/platform.ini" <<INI
; The demo's local database is the embedded engine; the portal is reached
; through the native MariaDB driver (Connector/C) under the name the
; connection strings carry, over TLS checked against the demo's CA.
[drivers]
SQL Server = embedded
MySQL ODBC 3.51 Driver = mariadb

[remote]
$tls
connect_timeout = 30
read_timeout = 600
write_timeout = 600

[regional]
short_date = dd/MM/yyyy
long_time = hh:mm:ss tt

[export]
code_page = windows-1252

[log]
folder = log
INI
  {
    printf '[APATH]\r\nDBASEPATH=SQLSRVR\r\nSERVERNAME=%s\r\nPASSWORD=' "$DEMO_LOCAL_SERVER"
    printf '%s\n' "$DEMO_SA_PASSWORD" | "$build/bin/upload-agent" --scramble-password | tr -d '\n'
    printf '\r\nDBNAME=%s\r\n' "$DEMO_LOCAL_DB"
  } >"$home/Ostrel.INI"

  "${sql[@]}" -S "$home/$DEMO_LOCAL_SERVER" -U SA -P "$DEMO_SA_PASSWORD" -Q "CREATE DATABASE $DEMO_LOCAL_DB"
  "${sql[@]}" -S "$home/$DEMO_LOCAL_SERVER" -U SA -P "$DEMO_SA_PASSWORD" -d "$DEMO_LOCAL_DB" \
    -i schema/local.sql
  "$build/bin/demo-data" --home "$home" \
    --connect "Driver={SQL Server};Server=$home/$DEMO_LOCAL_SERVER;Uid=SA;Pwd=$DEMO_SA_PASSWORD;" \
    --database "$DEMO_LOCAL_DB" --institution "$DEMO_INSTITUTION" --students 300

  local client=(mariadb --no-defaults --protocol=tcp -h "$host" -P "$port" -u "$user" "-p$password")
  "${client[@]}" -e "DROP DATABASE IF EXISTS $remote_db; CREATE DATABASE $remote_db"
  "${client[@]}" "$remote_db" <schema/remote.sql
  cat >"$home/remote-accounts.ini" <<INI
; One section per institution code: the portal account of that institution.
[$DEMO_INSTITUTION]
user = $user
password = $password
server = $host
database = $remote_db
port = $port
INI
  umask "$saved_umask"
  DEMO_REMOTE_CONNECTION="DRIVER={MySQL ODBC 3.51 Driver};SERVER=$host;DATABASE=$remote_db;UID=$user;PWD=$password; OPTION=3;PORT=$port"
}

demo_payments() {
  local build="$1" n=0 payment
  for payment in "S00001 5000" "S00002 1200" "S00003 20000" "S00010 800"; do
    set -- $payment
    n=$((n + 1))
    "$build/bin/portal-sim" --connect "$DEMO_REMOTE_CONNECTION" payment --admno "$1" \
      --amount "$2" --date "$(date +%Y-%m-%d) 09:3$n:00" --order "order_demo_$n" \
      --txn "pay_demo_$n" --mode "UPI" --status captured
  done
}
