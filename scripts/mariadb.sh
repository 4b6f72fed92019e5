# Shell functions for a private, throwaway MariaDB server and a private ODBC
# driver registration. Source this file; nothing here touches the system's
# own MariaDB configuration, data folder, port, socket or /etc/odbcinst.ini.
#
#   mariadb_free_port
#       Prints a TCP port on 127.0.0.1 that nothing listens on right now.
#   mariadb_start <datadir> <port> [socket]
#       Creates <datadir> (when it holds no server yet) and starts mariadbd on
#       127.0.0.1:<port> (and 127.0.0.2, loopback too, a name the test
#       certificate does not carry) with its socket (default <datadir>/mariadbd.sock),
#       its pid file and its error log (<datadir>/mariadbd.err) inside
#       <datadir>. Returns when the server answers, non-zero when it did not
#       come up (the error log's tail is printed then). Remembers the server
#       in MARIADB_PID, MARIADB_DATADIR, MARIADB_PORT and MARIADB_SOCKET.
#   mariadb_make_certs <folder>
#       Makes a test CA (<folder>/ca.pem), a server certificate signed by it
#       for 127.0.0.1 and localhost (<folder>/server-cert.pem, server-key.pem)
#       and a second, unrelated CA (<folder>/other-ca.pem) with openssl.
#       Set MARIADB_TLS_DIR=<folder> before mariadb_start to serve TLS.
#   mariadb_create_account <user> <password> [require]
#       Creates (or resets) an account with every privilege on the server
#       started last, reachable over TCP and over the socket; with "ssl" as
#       third argument the account logs in only over TLS (REQUIRE SSL).
#   mariadb_stop
#       Stops the server started last and waits until it has gone. Safe to
#       call twice or when nothing was started.
#   odbc_write_private_ini <folder>
#       Writes <folder>/odbcinst.ini registering the MariaDB ODBC driver as
#       "MySQL ODBC 3.51 Driver" and "MariaDB Unicode", an empty
#       <folder>/odbc.ini, and exports ODBCSYSINI=<folder> and
#       ODBCINI=<folder>/odbc.ini so that unixODBC reads only those.
#
# The server runs with --no-defaults (no /etc/mysql/my.cnf), a small buffer
# pool, no binary log and no performance schema, so that it starts in about
# a second; local_infile is on (LOAD DATA LOCAL INFILE) and the server's
# character set is latin1 (the portals of most offices). A test that needs a
# utf8mb4 portal creates its database with that character set on the same
# server (tests/support/remote_server.h, PortalCharsets).

MARIADB_PID=""
MARIADB_TLS_DIR="${MARIADB_TLS_DIR:-}"
MARIADB_DATADIR=""
MARIADB_PORT=""
MARIADB_SOCKET=""

MARIADB_DRIVER_LIB="${MARIADB_DRIVER_LIB:-/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so}"

# Options shared by the bootstrap and the running server.
_mariadb_common_options() {
  echo --innodb-buffer-pool-size=16M --innodb-log-file-size=8M \
    --character-set-server=latin1 --collation-server=latin1_swedish_ci \
    --skip-log-bin --performance-schema=OFF --skip-name-resolve
}

mariadb_free_port() {
  python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

_mariadb_client() {
  mariadb --no-defaults --protocol=socket --socket="$MARIADB_SOCKET" --user=root "$@"
}

mariadb_make_certs() {
  local dir="$1"
  mkdir -p "$dir" || return 1
  (
    set -e
    cd "$dir"
    umask 077
    local days=30
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days "$days" \
      -subj "/CN=Upload agent test CA" >/dev/null 2>&1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca-key.pem -out other-ca.pem \
      -days "$days" -subj "/CN=Unrelated test CA" >/dev/null 2>&1
    openssl req -newkey rsa:2048 -nodes -keyout server-key.pem -out server.csr \
      -subj "/CN=127.0.0.1" >/dev/null 2>&1
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
      -out server-cert.pem -days "$days" -extfile server.ext >/dev/null 2>&1
    chmod 644 ca.pem other-ca.pem server-cert.pem
  )
}

_mariadb_tls_options() {
  [ -n "$MARIADB_TLS_DIR" ] || return 0
  echo --ssl-ca="$MARIADB_TLS_DIR/ca.pem" --ssl-cert="$MARIADB_TLS_DIR/server-cert.pem" \
    --ssl-key="$MARIADB_TLS_DIR/server-key.pem"
}

# Makes <datadir> a new server's data folder unless it holds one already; the
# installer's output goes to <log>.
_mariadb_install_datadir() {
  local datadir="$1" log="$2"
  [ -d "$datadir/mysql" ] && return 0
  # shellcheck disable=SC2046
  if ! mariadb-install-db --no-defaults --user=root --datadir="$datadir" \
      --auth-root-authentication-method=normal --skip-test-db \
      $(_mariadb_common_options) >"$log" 2>&1; then
    echo "mariadb-install-db failed for $datadir:" >&2
    tail -n 20 "$log" >&2
    return 1
  fi
}

mariadb_start() {
  local datadir="$1" port="$2" socket="${3:-$1/mariadbd.sock}"
  if [ -z "$datadir" ] || [ -z "$port" ]; then
    echo "mariadb_start: usage: mariadb_start <datadir> <port> [socket]" >&2
    return 2
  fi
  mkdir -p "$datadir"
  datadir="$(cd "$datadir" && pwd)"
  # Its temporary files go beside its data folder (a folder inside would be a
  # database): a server sharing /tmp with other servers and test runs has
  # had its files removed from under it.
  mkdir -p "$datadir.tmp"
  case "$socket" in /*) ;; *) socket="$(pwd)/$socket" ;; esac
  _mariadb_install_datadir "$datadir" "$datadir/install.log" || return 1
  # shellcheck disable=SC2046
  mariadbd --no-defaults --user=root --datadir="$datadir" \
    --bind-address=127.0.0.1,127.0.0.2 --port="$port" --socket="$socket" \
    --pid-file="$datadir/mariadbd.pid" --log-error="$datadir/mariadbd.err" \
    --tmpdir="$datadir.tmp" \
    $(_mariadb_common_options) $(_mariadb_tls_options) \
    --innodb-flush-log-at-trx-commit=1 --innodb-doublewrite=0 \
    --local-infile=ON --max-connections=200 --max-allowed-packet=64M \
    </dev/null >/dev/null 2>&1 &
  MARIADB_PID=$!
  MARIADB_DATADIR="$datadir"
  MARIADB_PORT="$port"
  MARIADB_SOCKET="$socket"
  local i
  for i in $(seq 1 300); do
    if mariadb-admin --no-defaults --protocol=socket --socket="$socket" --user=root \
        --connect-timeout=1 ping >/dev/null 2>&1; then
      return 0
    fi
    if ! kill -0 "$MARIADB_PID" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "mariadb_start: the server on port $port did not come up:" >&2
  tail -n 20 "$datadir/mariadbd.err" >&2 2>/dev/null
  mariadb_stop
  return 1
}

mariadb_create_account() {
  local user="$1" password="$2" require=""
  [ "${3:-}" = "ssl" ] && require=" REQUIRE SSL"
  _mariadb_client <<SQL
CREATE OR REPLACE USER '$user'@'%' IDENTIFIED BY '$password'$require;
CREATE OR REPLACE USER '$user'@'localhost' IDENTIFIED BY '$password'$require;
GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$user'@'localhost' WITH GRANT OPTION;
SQL
}

mariadb_stop() {
  local pid="$MARIADB_PID"
  MARIADB_PID=""
  [ -n "$pid" ] || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    local i
    for i in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null
    fi
  fi
  wait "$pid" 2>/dev/null
  return 0
}

odbc_write_private_ini() {
  local folder="$1"
  mkdir -p "$folder"
  folder="$(cd "$folder" && pwd)"
  local name
  : >"$folder/odbcinst.ini"
  for name in "MySQL ODBC 3.51 Driver" "MariaDB Unicode"; do
    cat >>"$folder/odbcinst.ini" <<INI
[$name]
Description=MariaDB Connector/ODBC
Driver=$MARIADB_DRIVER_LIB
Threading=0

INI
  done
  : >"$folder/odbc.ini"
  export ODBCSYSINI="$folder"
  export ODBCINI="$folder/odbc.ini"
}
