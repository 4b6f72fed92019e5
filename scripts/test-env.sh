#!/usr/bin/env bash
# Runs a command next to one throwaway MariaDB server:
#
#   scripts/test-env.sh <command...>
#
# Starts a private server (own data folder and socket in a temporary folder,
# in memory where /dev/shm exists; 127.0.0.1 on a free port), registers the MariaDB ODBC driver in a private
# odbcinst.ini (ODBCSYSINI/ODBCINI point there; /etc/odbcinst.ini is never
# read or touched), creates a test account with every privilege, exports
#
#   AGENT_TEST_MARIADB_HOST AGENT_TEST_MARIADB_PORT AGENT_TEST_MARIADB_USER
#   AGENT_TEST_MARIADB_PASSWORD AGENT_TEST_MARIADB_SOCKET
#
# The server serves TLS with a certificate for 127.0.0.1 and localhost from
# a test CA made with openssl at start; a second account logs in only over
# TLS, and a second, unrelated CA is at hand for refusals:
#
#   AGENT_TEST_TLS_CA AGENT_TEST_TLS_OTHER_CA
#   AGENT_TEST_TLS_USER AGENT_TEST_TLS_PASSWORD   (REQUIRE SSL)
#
# and runs the command. The server is stopped and the temporary folder
# removed when the command ends, fails or is interrupted. The exit status is
# the command's.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 <command...>" >&2
  exit 2
fi

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/mariadb.sh
source "$here/mariadb.sh"

# The server's files go to memory (/dev/shm) when the machine has it: the
# server then starts in about a second even while other jobs keep the disk
# busy. AGENT_TEST_TMPDIR chooses another place.
base="${AGENT_TEST_TMPDIR:-}"
if [ -z "$base" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    base=/dev/shm
  else
    base="${TMPDIR:-/tmp}"
  fi
fi
workdir="$(mktemp -d "$base/agent-test-env.XXXXXX")"
child=""
cleanup() {
  if [ -n "$child" ] && kill -0 "$child" 2>/dev/null; then
    kill -TERM "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  mariadb_stop
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if ! mariadb_make_certs "$workdir/tls"; then
  echo "test-env: could not make the test certificates (openssl)" >&2
  exit 1
fi
MARIADB_TLS_DIR="$workdir/tls"

# Another run may take the port between the probe and the start: try again.
started=0
for attempt in 1 2 3 4 5; do
  port="$(mariadb_free_port)"
  if mariadb_start "$workdir/data" "$port" "$workdir/mariadbd.sock"; then
    started=1
    break
  fi
  echo "test-env: retrying with another port (attempt $attempt)" >&2
done
if [ "$started" -ne 1 ]; then
  echo "test-env: could not start the MariaDB test server" >&2
  exit 1
fi

user="agent_test"
password="Test-$$-pw"
if ! mariadb_create_account "$user" "$password"; then
  echo "test-env: could not create the test account" >&2
  exit 1
fi
tls_user="agent_tls"
tls_password="Tls-$$-pw"
if ! mariadb_create_account "$tls_user" "$tls_password" ssl; then
  echo "test-env: could not create the TLS-only test account" >&2
  exit 1
fi
odbc_write_private_ini "$workdir/odbc"

export AGENT_TEST_MARIADB_HOST=127.0.0.1
export AGENT_TEST_MARIADB_PORT="$port"
export AGENT_TEST_MARIADB_USER="$user"
export AGENT_TEST_MARIADB_PASSWORD="$password"
export AGENT_TEST_MARIADB_SOCKET="$MARIADB_SOCKET"
export AGENT_TEST_TLS_CA="$MARIADB_TLS_DIR/ca.pem"
export AGENT_TEST_TLS_OTHER_CA="$MARIADB_TLS_DIR/other-ca.pem"
export AGENT_TEST_TLS_USER="$tls_user"
export AGENT_TEST_TLS_PASSWORD="$tls_password"

# The command runs in the background so that a signal to this script is
# handled at once (a foreground child would delay the trap until it ends);
# the cleanup forwards the signal to the command. Standard input is handed
# on explicitly (a background command would otherwise read /dev/null).
exec 3<&0
"$@" <&3 3<&- &
child=$!
exec 3<&-
wait "$child"
status=$?
while kill -0 "$child" 2>/dev/null; do
  wait "$child"
  status=$?
done
child=""
exit "$status"
