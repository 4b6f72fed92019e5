#!/usr/bin/env bash
# Tests the Windows programs under Wine (called by scripts/windows.sh --test):
#
#   1. windows_unit_tests.exe: the unit tests that need no server (those of
#      the Win32 window run with 4, on its display);
#   2. the zip: its files, and that its programs start;
#   3. one upload cycle of upload-agent.exe --once over its native driver and
#      a verified TLS link, against a throwaway MariaDB server
#      (scripts/test-env.sh), on a program folder with the embedded engine;
#      the end stamp must be written and every remote table must hold the
#      same rows as after the Linux program's cycle on a copy of the same
#      program folder; then upload-agent.exe --headless, which must stop
#      cleanly (status 0) at Ctrl+C;
#   4. the tray program on a virtual display with a notification area (see
#      tray_test below); its screenshot goes to build-windows/windows-tray.png
#      or to AGENT_WINDOWS_SCREENSHOT;
#   5. the agent as a Windows service: installed, started, a cycle, paused,
#      stopped in the middle of the payments, started by itself in a new
#      Wine session, removed (scripts/windows-service-test.sh);
#   6. the installer, upgrade and uninstaller (scripts/windows-installer-test.sh).
#
#   scripts/windows-test.sh [build-windows]
#
# When Wine cannot start, it says so and fails: the Windows tests never pass
# without having run.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT="$(cd "${1:-build-windows}" && pwd)"
LINUX_BUILD="${AGENT_LINUX_BUILD:-$ROOT/build}"

# Debian's wine64 keeps its loader beside its libraries, not on PATH;
# AGENT_WINE names another loader.
WINE="${AGENT_WINE:-$(dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)}"
export WINEPREFIX="$OUT/wine-prefix"
export WINEDEBUG=-all
# The tray test's screenshot; docs/windows-tray.png for the README.
SCREENSHOT="${AGENT_WINDOWS_SCREENSHOT:-$OUT/windows-tray.png}"
case "$SCREENSHOT" in /*) ;; *) SCREENSHOT="$ROOT/$SCREENSHOT" ;; esac
export AGENT_WINDOWS_SCREENSHOT="$SCREENSHOT"
# The unit tests of the Win32 window, run on the tray test's display.
WINDOW_SUITE='Win32ServiceWindowTest.*'
# No Mono or Gecko installers: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
  echo "windows-test: FAIL: $*" >&2
  exit 1
}

wine_run() {
  "$WINE" "$@"
}

# A Windows name for a Unix path: Wine maps the Unix root to drive Z:.
windows_name() {
  local p="$1"
  echo "Z:${p//\//\\}"
}

# ---- the tray program on a virtual desktop ----------------------------------
# upload-agent.exe with its window on Xvfb with trayer as the notification
# area, on the program folder $1 (which reaches the test server): its icon
# docks, the first cycle and a timed one run while the window lives in the
# tray, a left click on the icon brings the window "Services . . ." back
# (the screenshot), and "&Exit" from the icon's menu ends the program with
# status 0.
tray_test() {
  local home="$1" log="$1/log/agent.log" start_line status x y w h mx my mw mh menu="" window
  echo "windows-test: upload-agent.exe with its tray icon under Xvfb and trayer"
  desktop_start || fail "the tray test cannot start its virtual desktop (Xvfb, trayer)"
  echo "windows-test: the window's unit tests on the virtual display"
  wine_run "$OUT/bin/windows_unit_tests.exe" --gtest_brief=1 --gtest_filter="$WINDOW_SUITE" \
    >"$home/window-tests.out" 2>&1 && grep -q 'PASSED  \] [1-9]' "$home/window-tests.out" ||
    { cat "$home/window-tests.out"; fail "windows_unit_tests.exe $WINDOW_SUITE"; }
  echo "windows-test: $(grep -m1 'PASSED  \]' "$home/window-tests.out")"
  touch "$log"
  start_line=$(($(wc -l <"$log") + 1))
  # A timed cycle 10 s after the start rather than 50 minutes.
  UPLOAD_AGENT_INTERVAL_SECONDS=10 "$WINE" "$OUT/bin/upload-agent.exe" \
    --home "$(windows_name "$home")" >"$home/tray.out" 2>&1 &
  tray_agent=$!
  # Waits up to $2 seconds for a journal line of this run matching $1.
  tray_line() {
    for _ in $(seq $(($2 * 10))); do
      tail -n "+$start_line" "$log" | grep -q -E "$1" && return 0
      kill -0 "$tray_agent" 2>/dev/null || return 1
      sleep 0.1
    done
    return 1
  }
  tray_fail() {
    tail -n "+$start_line" "$log" >&2
    cat "$home/tray.out" >&2
    fail "$*"
  }

  tray_line 'tray icon added' 30 || tray_fail "upload-agent.exe added no tray icon"
  for _ in $(seq 100); do desktop_docked_icon >/dev/null && break; sleep 0.2; done
  read -r x y w h < <(desktop_docked_icon) ||
    tray_fail "the tray icon did not dock in the notification area"
  tray_line 'cycle end' 120 || tray_fail "the first cycle did not end"
  tray_line 'status line: Idle - ' 120 || tray_fail "no timed cycle stamped the status line"
  if xdotool search --onlyvisible --name '^Services \. \. \.$' >/dev/null 2>&1; then
    tray_fail "the window is shown before the click: it should live in the tray"
  fi

  # A left click on the icon, as a person would.
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  tray_line 'window restored' 10 || tray_fail "a left click on the icon did not restore the window"
  window="$(timeout 10 xdotool search --sync --onlyvisible --name '^Services \. \. \.$' | head -n 1)"
  [ -n "$window" ] || tray_fail "the restored window \"Services . . .\" is not mapped"
  xdotool windowmove "$window" 150 110  # off the corner, as a desktop would place it
  xdotool mousemove 20 380  # the pointer away from the window
  sleep 0.5
  desktop_screenshot "$SCREENSHOT"
  echo "windows-test: the icon docked and a left click restored the window; screenshot $SCREENSHOT"

  # "&Exit" from the icon's menu: a right click opens it at the pointer.
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 3
  for _ in $(seq 50); do
    menu="$(tray_menu_geometry)" && break
    sleep 0.1
  done
  [ -n "$menu" ] || tray_fail "a right click on the icon opened no menu"
  read -r mx my mw mh <<<"$menu"
  # Three items of equal height: "&Exit" is the last.
  xdotool mousemove $((mx + mw / 2)) $((my + mh * 5 / 6)) click 1
  for _ in $(seq 200); do kill -0 "$tray_agent" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$tray_agent" 2>/dev/null; then
    tray_fail "upload-agent.exe did not end at \"&Exit\""
  fi
  status=0
  wait "$tray_agent" || status=$?
  tray_agent=""
  [ "$status" -eq 0 ] || tray_fail "upload-agent.exe ended with status $status at \"&Exit\""
  # (The Windows journal's lines end in CR LF.)
  tail -n "+$start_line" "$log" | tr -d '\r' | grep -q 'the agent ends$' ||
    tray_fail "the journal does not show the end at \"&Exit\""
  desktop_stop
  echo "windows-test: \"&Exit\" ended upload-agent.exe with status 0 after" \
    "$(tail -n "+$start_line" "$log" | grep -c 'cycle end') cycles"
}

# "X Y W H" of the open pop-up menu: a mapped window of the program without
# a name; fails when none is mapped.
tray_menu_geometry() {
  local id
  for id in $(xdotool search --onlyvisible --class 'upload-agent.exe' 2>/dev/null); do
    [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] || continue
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF} END {if (w > 20 && h > 20) print x, y, w, h; else exit 1}' &&
      return 0
  done
  return 1
}

# ---- the link: --check and --once agree, refusals name the setting ---------
# On a copy of the program folder $1/windows whose cycle ran: each set-up of
# the link is tried by --check and by --once, which must agree (both pass or
# both fail) and come out as expected; a refusal names what to change.
link_matrix() {
  local work="$1" folder="$1/matrix" other_ca
  other_ca="$(windows_name "$AGENT_TEST_TLS_OTHER_CA")"
  rm -rf "$folder"
  cp -a "$work/windows" "$folder"
  local platform="$folder/platform.ini" accounts="$folder/remote-accounts.ini"
  cp "$platform" "$work/platform.ini.verified"
  cp "$accounts" "$work/accounts.verified"
  # set_up DRIVER TLS-LINES SERVER: the verified folder with the [drivers]
  # line, the [remote] tls lines and the account's server replaced.
  set_up() {
    local driver="$1" tls="$2" server="$3"
    line="MySQL ODBC 3.51 Driver = $driver" tls="$tls" awk '
      /^MySQL ODBC 3.51 Driver = /{print ENVIRON["line"]; next}
      /^tls = |^tls_ca = /{if (!done) print ENVIRON["tls"]; done=1; next}
      {print}' "$work/platform.ini.verified" >"$platform"
    sed "s/^server = .*/server = $server/" "$work/accounts.verified" >"$accounts"
  }
  # try NAME EXPECTED(pass|fail) TEXT: runs both and compares.
  try() {
    local name="$1" expected="$2" text="$3" check_status=0 once_status=0
    wine_run "$OUT/bin/upload-agent.exe" --home "$(windows_name "$folder")" --check \
      >"$work/matrix-check.out" 2>&1 || check_status=$?
    wine_run "$OUT/bin/upload-agent.exe" --home "$(windows_name "$folder")" --once \
      >"$work/matrix-once.out" 2>&1 || once_status=$?
    local check_result=pass once_result=pass
    [ "$check_status" -eq 0 ] || check_result=fail
    [ "$once_status" -eq 0 ] || once_result=fail
    if [ "$check_result" != "$expected" ] || [ "$once_result" != "$expected" ]; then
      cat "$work/matrix-check.out" "$work/matrix-once.out"
      fail "link set-up '$name': --check ${check_result}ed, --once ${once_result}ed, expected both to $expected"
    fi
    if [ -n "$text" ] && ! grep -qF -- "$text" "$work/matrix-check.out"; then
      cat "$work/matrix-check.out"
      fail "link set-up '$name': --check does not say \"$text\""
    fi
    echo "windows-test: link set-up '$name': --check and --once ${expected}ed"
  }
  local verified ca
  ca="$(sed -n 's/^tls_ca = //p' "$work/platform.ini.verified")"
  verified="tls = verify-identity
tls_ca = $ca"
  set_up mariadb "tls_ca = $other_ca" localhost
  try "another CA" fail "tls_ca"
  set_up mariadb "; no tls, no tls_ca: the Windows certificate store" localhost
  try "tls unset, a CA Windows does not trust" fail "tls_ca"
  set_up mariadb "tls = required" localhost
  try "required, written out" pass "server not verified"
  set_up "odbc:MariaDB Unicode" "tls = required" 127.0.0.1
  try "ODBC with required" fail "only with tls = verify-identity"
  set_up "odbc:MariaDB Unicode" "$verified" 127.0.0.1
  try "ODBC, verified" pass "LOAD DATA LOCAL is not confined"
  unset -f set_up try
}

# ---- the hostile portal ------------------------------------------------------
# The Windows program against the tests' hostile portal server (a Linux
# program on loopback): asked for another file, or for the export file under
# another spelling, it sends none of it; asked to switch to the clear-text
# password, it sends no password. Each cycle fails with a journal line.
hostile_portal_test() {
  local work="$1" folder="$1/hostile"
  rm -rf "$folder"
  cp -a "$work/windows" "$folder"
  local secret password
  secret="$(sed -n 's/^database = //p' "$folder/remote-accounts.ini")"
  password="Hostile-Test-Secret-7"
  # attack MODE FILE [TLS]: one --once cycle against the hostile server,
  # which offers no TLS (tls = off unless TLS is given).
  attack() {
    local mode="$1" file="$2" tls="${3:-off}" status=0
    rm -f "$work/hostile.port" "$work/hostile.record" "$work/hostile.in"
    mkfifo "$work/hostile.in"
    "$LINUX_BUILD/bin/hostile-portal" "$mode" "$file" "$work/hostile.port" "$work/hostile.record" \
      <"$work/hostile.in" &
    local server=$!
    exec 7>"$work/hostile.in"
    for _ in $(seq 50); do [ -s "$work/hostile.port" ] && break; sleep 0.1; done
    printf '[P001]\nuser = portal_user\npassword = %s\nserver = 127.0.0.1\ndatabase = %s\nport = %s\ntls = %s\n' \
      "$password" "$secret" "$(cat "$work/hostile.port")" "$tls" >"$folder/remote-accounts.ini"
    local code
    code="$(sed -n 's/^\[\(.*\)\]$/\1/p' "$work/windows/remote-accounts.ini" | head -n 1)"
    sed -i "s/^\[P001\]/[$code]/" "$folder/remote-accounts.ini"
    wine_run "$OUT/bin/upload-agent.exe" --home "$(windows_name "$folder")" --once \
      >"$work/hostile.out" 2>&1 || status=$?
    exec 7>&-
    wait "$server"
    [ "$status" -ne 0 ] || fail "hostile portal ($mode): the cycle was reported a success"
    if grep -qF -- "$password" "$work/hostile.record" ||
       grep -qF -- "database = $secret" "$work/hostile.record"; then
      fail "hostile portal ($mode): the server received the password or the accounts file"
    fi
  }
  attack another-file "$(windows_name "$folder/remote-accounts.ini")"
  grep -q 'refused' "$folder/log/agent.log" ||
    fail "hostile portal: no journal line names the refused file"
  echo "windows-test: hostile portal asking for remote-accounts.ini: nothing sent, cycle refused"
  local csv
  csv="$(windows_name "$folder/CSV")"
  csv="${csv//\\//}"
  attack another-file "$(echo "$csv" | tr 'A-Z' 'a-z')/upcollege.csv"
  echo "windows-test: hostile portal asking for the export under another spelling: nothing sent"
  attack clear-password ""
  echo "windows-test: hostile portal asking for the clear-text password: no password sent"
  # A server (or a relay that strips TLS) offering no TLS where TLS is asked
  # for: refused before the login, so not one byte reaches it.
  for tls in required verify-ca verify-identity; do
    attack named-file "" "$tls"
    [ ! -s "$work/hostile.record" ] ||
      fail "hostile portal without TLS: with tls = $tls the agent sent $(wc -c <"$work/hostile.record") bytes"
  done
  echo "windows-test: a portal without TLS got nothing with tls = required, verify-ca and verify-identity"
  unset -f attack
}

# ---- the cycle against the test server (run inside scripts/test-env.sh) -----
if [ "${2:-}" = "--cycle" ]; then
  source scripts/demo-lib.sh
  source scripts/desktop-lib.sh
  work="$(mktemp -d "${TMPDIR:-/tmp}/agent-windows-cycle.XXXXXX")"
  tray_agent=""
  trap '[ -z "$tray_agent" ] || kill -KILL "$tray_agent" 2>/dev/null; desktop_stop; rm -rf "$work"' EXIT
  host="$AGENT_TEST_MARIADB_HOST" port="$AGENT_TEST_MARIADB_PORT"
  user="$AGENT_TEST_MARIADB_USER" password="$AGENT_TEST_MARIADB_PASSWORD"
  linux_db="win_cycle_linux_$$" windows_db="win_cycle_windows_$$"
  client=(mariadb --no-defaults --protocol=tcp -h "$host" -P "$port" -u "$user" "-p$password")

  # One program folder and its portal database, made by the Linux tools;
  # the Windows program gets a copy of the folder before any cycle and a
  # portal database made the same way.
  demo_prepare "$LINUX_BUILD" "$work/linux" "$host" "$port" "$user" "$password" "$linux_db" \
    >"$work/prepare.log" 2>&1 || { cat "$work/prepare.log"; fail "could not prepare the program folder"; }
  cp -a "$work/linux" "$work/windows"
  # The Windows program reaches the portal through its own native driver
  # (Connector/C with Schannel) over a verified link: the CA by its Windows
  # name, the server by a host name its certificate carries (Windows refuses
  # a certificate matched by an IP address).
  if grep -q '^tls_ca = ' "$work/windows/platform.ini"; then
    ca="$(sed -n 's/^tls_ca = //p' "$work/windows/platform.ini")"
    ca_windows="$(windows_name "$ca")"
    # (awk -v would read the backslashes as escapes; ENVIRON keeps them.)
    line="tls_ca = $ca_windows" awk '/^tls_ca = /{print ENVIRON["line"]; next} {print}' \
      "$work/windows/platform.ini" >"$work/platform.ini.windows"
    cat "$work/platform.ini.windows" >"$work/windows/platform.ini"
  fi
  grep -q '^MySQL ODBC 3.51 Driver = mariadb' "$work/windows/platform.ini" ||
    fail "the demo folder does not map the portal to the native driver"
  sed -i "s/^server = .*/server = localhost/" "$work/windows/remote-accounts.ini"
  "${client[@]}" -e "CREATE DATABASE $windows_db" && "${client[@]}" "$windows_db" <schema/remote.sql ||
    fail "could not make the portal database $windows_db"
  sed -i "s/^database = .*/database = $windows_db/" "$work/windows/remote-accounts.ini"
  linux_connection="$DEMO_REMOTE_CONNECTION"
  for db in "$linux_db" "$windows_db"; do
    DEMO_REMOTE_CONNECTION="${linux_connection/DATABASE=$linux_db/DATABASE=$db}"
    demo_payments "$LINUX_BUILD" >/dev/null || fail "could not write the portal payments"
  done

  "$LINUX_BUILD/bin/upload-agent" --home "$work/linux" --once >"$work/linux.out" 2>&1 ||
    { cat "$work/linux.out"; fail "the Linux program's cycle failed"; }
  status=0
  wine_run "$OUT/bin/upload-agent.exe" --home "$(windows_name "$work/windows")" --once \
    >"$work/windows.out" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$work/windows.out"
    tail -n 30 "$work/windows/log/agent.log" 2>/dev/null
    fail "upload-agent.exe --once ended with status $status"
  fi

  ended="$("${client[@]}" -N "$windows_db" -e "select count(*) from control where flastupdendtime is not null and flastupdendtime <> ''")"
  [ "$ended" = "1" ] || fail "the Windows cycle did not write its end stamp"

  # Every table, every column; the moments a cycle stamps (its start and end,
  # a payment's download time) differ between the two runs, so of those only
  # whether they are set is compared.
  moments="'control.flastupdstarttime','control.flastupdendtime','rzp_paymentgateway.fdownloaddate'"
  tables="$("${client[@]}" -N "$linux_db" -e "show tables")"
  differing=0
  for t in $tables; do
    columns="$("${client[@]}" -N -e "select group_concat(if(concat(table_name,'.',column_name) in ($moments), concat('(\`',column_name,'\` is null)'), concat('\`',column_name,'\`')) order by ordinal_position) from information_schema.columns where table_schema='$linux_db' and table_name='$t'")"
    query="select $columns from \`$t\` order by $columns"
    "${client[@]}" -N "$linux_db" -e "$query" >"$work/$t.linux"
    "${client[@]}" -N "$windows_db" -e "$query" >"$work/$t.windows" 2>&1
    if ! cmp -s "$work/$t.linux" "$work/$t.windows"; then
      echo "windows-test: table $t differs (Linux < > Windows):" >&2
      diff "$work/$t.linux" "$work/$t.windows" | head -n 10 >&2
      differing=1
    fi
  done
  [ "$differing" -eq 0 ] || fail "the Windows cycle left other rows than the Linux one"
  rows=$(cat "$work"/*.windows | wc -l)
  echo "windows-test: upload-agent.exe --once stamped its end; $(echo "$tables" | wc -w) remote tables ($rows rows) as after the Linux cycle"

  # --check on the same folder: every line OK, status 0; it reads the driver
  # list through Wine's odbc32 as well.
  status=0
  wine_run "$OUT/bin/upload-agent.exe" --home "$(windows_name "$work/windows")" --check \
    >"$work/check.out" 2>&1 || status=$?
  if [ "$status" -ne 0 ] || grep -q '^FAILED' "$work/check.out"; then
    cat "$work/check.out"
    fail "upload-agent.exe --check ended with status $status on a folder whose cycle ran"
  fi
  echo "windows-test: upload-agent.exe --check passed ($(grep -c '^OK' "$work/check.out") checks OK)"

  link_matrix "$work"
  hostile_portal_test "$work"

  # --headless until Ctrl+C: Wine hands SIGINT to the console control
  # handler, which lets the schedule return (status 0) instead of the process
  # being ended in the middle of a cycle.
  log="$work/windows/log/agent.log"
  before=$(grep -c 'cycle end' "$log")
  "$WINE" "$OUT/bin/upload-agent.exe" --home "$(windows_name "$work/windows")" --headless \
    >"$work/headless.out" 2>&1 &
  agent=$!
  for _ in $(seq 120); do
    [ "$(grep -c 'cycle end' "$log")" -gt "$before" ] && break
    kill -0 "$agent" 2>/dev/null || break
    sleep 0.5
  done
  [ "$(grep -c 'cycle end' "$log")" -gt "$before" ] ||
    { kill -KILL "$agent" 2>/dev/null; fail "upload-agent.exe --headless ran no cycle"; }
  kill -INT "$agent"
  for _ in $(seq 40); do kill -0 "$agent" 2>/dev/null || break; sleep 0.5; done
  if kill -0 "$agent" 2>/dev/null; then
    kill -KILL "$agent"
    fail "upload-agent.exe --headless did not stop at Ctrl+C"
  fi
  status=0
  wait "$agent" || status=$?
  [ "$status" -eq 0 ] || fail "upload-agent.exe --headless ended with status $status at Ctrl+C"
  grep -q 'upload-agent stopped on request' "$log" ||
    fail "upload-agent.exe --headless ended at Ctrl+C without finishing its schedule"
  echo "windows-test: upload-agent.exe --headless stopped at Ctrl+C with status 0"

  tray_test "$work/windows"

  source scripts/windows-service-test.sh
  service_test "$work" "$windows_db"

  "${client[@]}" -e "DROP DATABASE $linux_db; DROP DATABASE $windows_db"
  exit 0
fi

# ---- Wine ------------------------------------------------------------------
[ -n "$WINE" ] && [ -x "$WINE" ] || fail "Wine cannot start: no wine64 loader (Debian package wine64)"
if ! wine_run wineboot --init >"$OUT/wineboot.log" 2>&1; then
  tail -n 5 "$OUT/wineboot.log" >&2
  fail "Wine cannot start (wineboot failed, prefix $WINEPREFIX)"
fi

# ---- 1. unit tests -----------------------------------------------------------
echo "windows-test: windows_unit_tests.exe under Wine"
# (The window's own suite needs a display: it runs with the tray test.)
wine_run "$OUT/bin/windows_unit_tests.exe" --gtest_brief=1 --gtest_filter="-$WINDOW_SUITE" ||
  fail "windows_unit_tests.exe"

# ---- 2. the zip -------------------------------------------------------------
# Exactly the programs, the schema files and the example settings (as
# examples/ and as the files to fill in); the zipped program runs.
echo "windows-test: upload-agent-windows.zip"
zip_dir="$(mktemp -d "${TMPDIR:-/tmp}/agent-windows-zip.XXXXXX")"
unzip -q "$OUT/upload-agent-windows.zip" -d "$zip_dir" || fail "cannot unpack upload-agent-windows.zip"
expected="$(printf '%s\n' upload-agent.exe agent-sql.exe Ostrel.INI platform.ini remote-accounts.ini \
  examples/Ostrel.INI examples/platform.ini examples/remote-accounts.ini \
  schema/local.sql schema/remote.sql | sort)"
held="$(cd "$zip_dir/upload-agent" && find . -type f | sed 's|^\./||' | sort)"
[ "$held" = "$expected" ] ||
  fail "upload-agent-windows.zip holds other files than expected:$(diff <(echo "$expected") <(echo "$held") | sed 's/^/ /')"
for f in Ostrel.INI remote-accounts.ini platform.ini; do
  example="examples/$f"
  [ "$f" != platform.ini ] || example="$OUT/examples/platform.ini"
  cmp -s "$example" "$zip_dir/upload-agent/$f" && cmp -s "$example" "$zip_dir/upload-agent/examples/$f" ||
    fail "upload-agent-windows.zip: $f is not the example $example"
done
# The Windows example reaches the portal through the built-in native driver.
zipped_platform="$zip_dir/upload-agent/platform.ini"
grep -q '^MySQL ODBC 3.51 Driver = mariadb' "$zipped_platform" &&
  grep -q '^\[regional\]' "$zipped_platform" && grep -q '^; ' "$zipped_platform" ||
  fail "upload-agent-windows.zip: platform.ini is not the commented Windows example"
for program in upload-agent agent-sql; do
  wine_run "$zip_dir/upload-agent/$program.exe" --help >"$zip_dir/help.out" 2>&1 ||
    { cat "$zip_dir/help.out"; fail "upload-agent-windows.zip: $program.exe --help does not run"; }
done
rm -rf "$zip_dir"

# ---- 3 and 4. one cycle, the tray --------------------------------------------------
if [ ! -f "$LINUX_BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$LINUX_BUILD" -G Ninja >/dev/null || fail "could not configure the Linux build"
fi
for tool in upload-agent agent-sql demo-data portal-sim hostile-portal; do
  if [ ! -x "$LINUX_BUILD/bin/$tool" ]; then
    echo "windows-test: building the Linux $tool for the comparison"
    cmake --build "$LINUX_BUILD" --target "$tool" >/dev/null || fail "could not build the Linux $tool"
  fi
done
echo "windows-test: upload-agent.exe --once under Wine against a throwaway MariaDB"
scripts/test-env.sh "$0" "$OUT" --cycle || fail "the Windows cycle test"

# ---- 6. the installer ----------------------------------------------------------
echo "windows-test: upload-agent-setup.exe under Wine"
scripts/windows-installer-test.sh "$OUT" || fail "the Windows installer test"
echo "windows-test: passed"
