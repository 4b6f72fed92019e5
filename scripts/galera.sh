# Shell functions for a private, throwaway three-node MariaDB Galera cluster
# on loopback. Source this file (after scripts/mariadb.sh); nothing here
# touches the system's own MariaDB configuration, data folder or service.
#
#   galera_install
#       Installs the Debian packages a node needs (mariadb-server for the
#       state-transfer scripts, galera-4, rsync) when they are missing.
#   galera_start <folder> [max_ws_size]
#       Starts three nodes, each with its own data folder <folder>/nodeN, its
#       own client port, group port, state-transfer port and socket, node 1
#       first as the new cluster's seed. The nodes run as the user mysql
#       (rsync's state transfer drops to an unprivileged user and fails for a
#       node running as root). Returns when the cluster is primary with three
#       members, non-zero when it did not come up within GALERA_START_SECONDS
#       (default 120). Remembers GALERA_PORT1..3, GALERA_SOCKET1..3 and
#       GALERA_PID1..3. max_ws_size sets wsrep_max_ws_size on every node.
#   galera_client <n> [mariadb arguments...]
#       The mariadb client as root on node n's socket.
#   galera_wait_members <n> <count> [seconds]
#       Waits until node n is in a primary component of <count> members and
#       ready (default 60 s); non-zero when it did not happen.
#   galera_kill <n>
#       Kills node n at once (SIGKILL), as a crash or a power cut would.
#   galera_restart <n>
#       Starts node n again after galera_kill; it rejoins through the others.
#   galera_stop
#       Stops every node still running and waits until they have gone. Safe
#       to call twice or when nothing was started.

GALERA_FOLDER=""
GALERA_PROVIDER="${GALERA_PROVIDER:-/usr/lib/galera/libgalera_smm.so}"
GALERA_MAX_WS_SIZE=""
declare -a GALERA_PORTS=() GALERA_GCOMM=() GALERA_SST=() GALERA_IST=() GALERA_PIDS=()

galera_install() {
  # shellcheck source=scripts/packages-lib.sh
  source "$(dirname "${BASH_SOURCE[0]}")/packages-lib.sh"
  # The package's own server must not start on the system's port: Debian's
  # scripts ask policy-rc.d, which here refuses while the packages go in
  # (unless the system has one of its own).
  local guard=""
  if [ ! -e /usr/sbin/policy-rc.d ] && [ "$(id -u)" -eq 0 ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d
    guard=/usr/sbin/policy-rc.d
  fi
  local status=0
  ensure_packages galera mariadb-server galera-4 rsync || status=$?
  [ -z "$guard" ] || rm -f "$guard"
  return "$status"
}

# The prefix that runs a command as the unprivileged user the nodes run as
# (setpriv execs the command, so the node's process id is the one started).
_galera_node_user_prefix() {
  [ "$(id -u)" -eq 0 ] && echo setpriv --reuid=mysql --regid=mysql --init-groups --
}

galera_client() {
  local n="$1"
  shift
  mariadb --no-defaults --protocol=socket --socket="$GALERA_FOLDER/node$n.sock" --user=root \
    --connect-timeout=2 "$@"
}

_galera_cluster_address() {
  local i address=""
  for i in 1 2 3; do
    address+="${address:+,}127.0.0.1:${GALERA_GCOMM[$i]}"
  done
  echo "gcomm://$address"
}

_galera_start_node() {
  local n="$1" extra="${2:-}"
  local dir="$GALERA_FOLDER/node$n" gcomm="${GALERA_GCOMM[$n]}" port="${GALERA_PORTS[$n]}"
  local ws=""
  [ -n "$GALERA_MAX_WS_SIZE" ] && ws="--wsrep-max-ws-size=$GALERA_MAX_WS_SIZE"
  # shellcheck disable=SC2046,SC2086
  $(_galera_node_user_prefix) mariadbd --no-defaults --datadir="$dir" \
    --bind-address=127.0.0.1 --port="$port" --socket="$GALERA_FOLDER/node$n.sock" \
    --pid-file="$dir/mariadbd.pid" --log-error="$GALERA_FOLDER/node$n.err" \
    --tmpdir="$GALERA_FOLDER/node$n.tmp" \
    $(_mariadb_common_options) \
    --local-infile=ON --max-connections=200 --max-allowed-packet=64M \
    --innodb-flush-log-at-trx-commit=2 --innodb-doublewrite=0 \
    --binlog-format=ROW --innodb-autoinc-lock-mode=2 --default-storage-engine=InnoDB \
    --wsrep-on=ON --wsrep-provider="$GALERA_PROVIDER" \
    --wsrep-cluster-name=agent_test --wsrep-cluster-address="$(_galera_cluster_address)" \
    --wsrep-node-name="node$n" --wsrep-node-address="127.0.0.1:$gcomm" \
    --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:$gcomm;ist.recv_addr=127.0.0.1:${GALERA_IST[$n]};gcache.size=64M" \
    --wsrep-sst-method=rsync --wsrep-sst-receive-address="127.0.0.1:${GALERA_SST[$n]}" \
    $ws $extra </dev/null >"$GALERA_FOLDER/node$n.out" 2>&1 &
  GALERA_PIDS[$n]=$!
}

galera_wait_members() {
  local n="$1" count="$2" seconds="${3:-60}" i row
  for i in $(seq 1 $((seconds * 2))); do
    row="$(galera_client "$n" -N -B -e "select concat(
        (select variable_value from information_schema.global_status
           where variable_name = 'wsrep_cluster_status'), ' ',
        (select variable_value from information_schema.global_status
           where variable_name = 'wsrep_cluster_size'), ' ',
        (select variable_value from information_schema.global_status
           where variable_name = 'wsrep_ready'))" 2>/dev/null)"
    [ "$row" = "Primary $count ON" ] && return 0
    sleep 0.5
  done
  echo "galera: node $n is not in a primary component of $count (last: ${row:-no answer})" >&2
  return 1
}

# Once all three nodes are one primary component: an account (user,
# password) with every privilege, made through node 1 (a node just joined
# may still refuse statements for a moment: 1047).
galera_create_account() {
  local user="$1" password="$2" attempt
  galera_wait_members 1 3 60 || return 1
  for attempt in $(seq 1 30); do
    galera_client 1 -e "CREATE OR REPLACE USER '$user'@'%' IDENTIFIED BY '$password';
      GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;" 2>/dev/null && return 0
    sleep 1
  done
  echo "galera: could not create the account $user" >&2
  return 1
}

_galera_free_ports() {
  local i
  for i in 1 2 3; do
    GALERA_PORTS[$i]="$(mariadb_free_port)"
    GALERA_GCOMM[$i]="$(mariadb_free_port)"
    GALERA_SST[$i]="$(mariadb_free_port)"
    GALERA_IST[$i]="$(mariadb_free_port)"
  done
}

galera_start() {
  GALERA_FOLDER="$1"
  GALERA_MAX_WS_SIZE="${2:-}"
  local seconds="${GALERA_START_SECONDS:-120}" i
  mkdir -p "$GALERA_FOLDER"
  GALERA_FOLDER="$(cd "$GALERA_FOLDER" && pwd)"
  _galera_free_ports
  for i in 1 2 3; do
    mkdir -p "$GALERA_FOLDER/node$i.tmp"
  done
  # Only the seed is bootstrapped; the others receive its data by rsync.
  _mariadb_install_datadir "$GALERA_FOLDER/node1" "$GALERA_FOLDER/install.log" || return 1
  mkdir -p "$GALERA_FOLDER/node2" "$GALERA_FOLDER/node3"
  chown -R mysql:mysql "$GALERA_FOLDER" 2>/dev/null
  chmod 755 "$GALERA_FOLDER"
  _galera_start_node 1 --wsrep-new-cluster
  galera_wait_members 1 1 "$seconds" || { _galera_fail; return 1; }
  _galera_start_node 2
  _galera_start_node 3
  galera_wait_members 1 3 "$seconds" &&
    galera_wait_members 2 3 "$seconds" && galera_wait_members 3 3 "$seconds" ||
    { _galera_fail; return 1; }
  GALERA_PORT1="${GALERA_PORTS[1]}" GALERA_PORT2="${GALERA_PORTS[2]}"
  GALERA_PORT3="${GALERA_PORTS[3]}"
  export GALERA_PORT1 GALERA_PORT2 GALERA_PORT3
}

_galera_fail() {
  local i
  for i in 1 2 3; do
    echo "--- node $i error log" >&2
    tail -n 15 "$GALERA_FOLDER/node$i.err" >&2 2>/dev/null
  done
  galera_stop
}

galera_kill() {
  local pid="${GALERA_PIDS[$1]:-}"
  [ -n "$pid" ] || return 0
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  GALERA_PIDS[$1]=""
}

galera_restart() {
  _galera_start_node "$1"
}

galera_stop() {
  local i pid
  for i in 3 2 1; do
    pid="${GALERA_PIDS[$i]:-}"
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
  done
  for i in 3 2 1; do
    pid="${GALERA_PIDS[$i]:-}"
    [ -n "$pid" ] || continue
    local j
    for j in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    GALERA_PIDS[$i]=""
  done
  return 0
}
