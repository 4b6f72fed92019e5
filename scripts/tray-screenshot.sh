#!/usr/bin/env bash
# The tray agent on a desktop, as a person meets it: a virtual X display
# (Xvfb) with a notification area (trayer), the agent started against the
# demo's program folder, its first cycle, one timed cycle, then a left click
# on its tray icon and a screenshot of the restored window with its status
# line.
#
#   scripts/tray-screenshot.sh [--build DIR] [--home DIR] [--out PNG] [--check]
#
#   --build DIR  the build folder whose bin/upload-agent runs (default: build)
#   --home DIR   the agent's program folder (default: DIR/demo of --build),
#                prepared by scripts/demo.sh; the default build/demo is
#                prepared here when it is missing
#   --out PNG    where the screenshot goes (default: docs/tray-window.png)
#   --check      a test: exit 0 only when the icon appeared in the
#                notification area and a left click on it restored the
#                window. Under scripts/test-env.sh it prepares a program
#                folder of its own on the test server when none is given;
#                otherwise exit 77 (skipped) when the program folder is missing
#
# The demo's MariaDB server is started again on the port its accounts file
# names and stopped at the end; the display, the notification area and the
# agent end with the script. The timed cycle comes after 15 seconds rather
# than 50 minutes (UPLOAD_AGENT_INTERVAL_SECONDS), so that the status line
# shows its "Idle - " stamp.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

BUILD="build"
HOME_DIR=""
OUT="docs/tray-window.png"
CHECK=0
INTERVAL=15
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD="$2"; shift 2 ;;
    --home) HOME_DIR="$2"; shift 2 ;;
    --out) OUT="$2"; shift 2 ;;
    --check) CHECK=1; shift ;;
    *) echo "tray-screenshot: unknown argument $1" >&2; exit 2 ;;
  esac
done
HOME_DIR="${HOME_DIR:-$BUILD/demo}"
HOME_DIR="$(cd "$(dirname "$HOME_DIR")" && pwd)/$(basename "$HOME_DIR")"
AGENT="$(cd "$BUILD" && pwd)/bin/upload-agent"

say() { echo "tray-screenshot: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

source scripts/mariadb.sh
source scripts/demo-lib.sh
source scripts/desktop-lib.sh
own_home=""
if [ ! -f "$HOME_DIR/Ostrel.INI" ] || [ ! -f "$HOME_DIR/remote-accounts.ini" ]; then
  if [ "$CHECK" -eq 1 ] && [ -n "${AGENT_TEST_MARIADB_HOST:-}" ]; then
    # Under the test suite: a program folder of its own on the test server.
    own_home="$(mktemp -d "${TMPDIR:-/tmp}/agent-tray.XXXXXX")"
    HOME_DIR="$own_home/home"
    demo_prepare "$BUILD" "$HOME_DIR" "$AGENT_TEST_MARIADB_HOST" "$AGENT_TEST_MARIADB_PORT" \
      "$AGENT_TEST_MARIADB_USER" "$AGENT_TEST_MARIADB_PASSWORD" "agent_tray_$$" >/dev/null
  elif [ "$HOME_DIR" = "$root/build/demo" ] && [ "$CHECK" -eq 0 ]; then
    scripts/demo.sh
  else
    say "no demo program folder at $HOME_DIR: run scripts/demo.sh first"
    exit 77
  fi
fi
[ -x "$AGENT" ] || { say "no agent at $AGENT: build it first"; exit 2; }

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  mariadb_stop
  [ -z "$own_home" ] || rm -rf "$own_home"
}
trap cleanup EXIT

if [ -z "$own_home" ]; then
  # The portal database the demo left behind, on the port its accounts file names.
  odbc_write_private_ini "$HOME_DIR/odbc"
  demo_portal_start "$HOME_DIR" >/dev/null || fail "could not start the demo's portal server"
fi

desktop_start || fail "no virtual desktop"
pids+=("${desktop_pids[@]}")

log="$HOME_DIR/log/agent.log"
mkdir -p "$(dirname "$log")"
touch "$log"
start_line=$(($(wc -l <"$log") + 1))
new_lines() { tail -n "+$start_line" "$log" 2>/dev/null || true; }
# Waits up to $2 seconds for a journal line of this run matching $1; prints it.
wait_for_line() {
  local pattern="$1" seconds="$2" line
  for _ in $(seq $((seconds * 10))); do
    line="$(new_lines | grep -m 1 -E "$pattern" || true)"
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    kill -0 "$agent_pid" 2>/dev/null || { say "the agent ended"; return 1; }
    sleep 0.1
  done
  return 1
}

QT_QPA_PLATFORM=xcb UPLOAD_AGENT_INTERVAL_SECONDS="$INTERVAL" "$AGENT" --home "$HOME_DIR" >"$HOME_DIR/log/tray-agent.out" 2>&1 &
agent_pid=$!
pids+=("$agent_pid")

wait_for_line 'tray icon at ' 20 >/dev/null ||
  fail "the tray icon never appeared in the notification area (journal: $log)"
wait_for_line 'cycle end' 120 >/dev/null || fail "the first cycle did not end (journal: $log)"
stamp="$(wait_for_line 'status line: Idle - ' $((INTERVAL + 120)))" ||
  fail "no timed cycle stamped the status line (journal: $log)"
say "${stamp#*INFO }"
# --status sees the running tray program and its cycles' summaries.
status=""
for _ in $(seq 50); do
  status="$("$AGENT" --status --home "$HOME_DIR" 2>&1 || true)"
  echo "$status" | grep -q "agent: running as process $agent_pid, next cycle at " && break
  sleep 0.1
done
echo "$status" | grep -q "agent: running as process $agent_pid, next cycle at " ||
  fail "--status does not see the running agent: $status"
echo "$status" | grep -q "  [0-9-]* [0-9:]*  stamped, " ||
  fail "--status shows no stamped cycle: $status"
if xdotool search --onlyvisible --name '^Services \. \. \.$' >/dev/null 2>&1; then
  fail "the window is shown before the click: it should live in the tray"
fi

# The icon's last place: the notification area moves it when it takes it.
where="$(new_lines | grep -E 'tray icon at [0-9]+,[0-9]+ size [0-9]+x[0-9]+' | tail -n 1)"
read -r x y w h < <(echo "$where" | sed -E 's/.*tray icon at ([0-9]+),([0-9]+) size ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/')
say "icon at $x,$y ($w x $h)"

# A left click on the icon, as a person would.
xdotool mousemove $((x + w / 2)) $((y + h / 2))
sleep 0.2
xdotool click 1
wait_for_line 'window restored' 10 >/dev/null || fail "a left click on the icon did not restore the window"
window_id="$(timeout 10 xdotool search --sync --onlyvisible --name '^Services \. \. \.$' | head -n 1)" ||
  fail "the restored window is not visible"
xdotool windowmove "$window_id" 150 110  # off the corner, as a desktop would place it
xdotool mousemove 20 380  # the pointer away from the window
sleep 0.5

desktop_screenshot "$OUT"
say "screenshot of the restored window $window_id: $OUT"
[ "$CHECK" -eq 1 ] && say "PASS: the icon appeared and a left click restored the window"
exit 0
