# The Windows service under Wine; sourced by scripts/windows-test.sh, whose
# cycle test defines WINE, OUT, LINUX_BUILD, client, fail, wine_run and
# windows_name, and calls
#
#   service_test <work folder> <portal database>
#
# on a copy of its program folder <work>/windows (whose portal database is
# <portal database>):
#
#   1. --install-service; the service is started with `net start`, runs its
#      first cycle (the journal's summary, the portal's end stamp), is paused
#      and continued (tests/tools/service_control_main.cc);
#   2. 300 pending gateway payments; `net stop` in the middle of their
#      booking ends the service within 5 s, with each payment booked whole or
#      not at all;
#   3. a fresh Wine session (wineserver ended and started again) starts the
#      service by itself; its cycle books the rest, each payment exactly once;
#   4. --uninstall-service stops and removes it.
#
# Wine keeps a service only while the prefix's wineserver runs: one is kept
# (wineserver -p) for each session. What Wine cannot show (recovery after a
# crash, the folder's access list, PRESHUTDOWN, the Event Log) is checked on
# real Windows: docs/windows-service.md.

SERVICE_NAME="UploadAgentTest"
WINESERVER="${AGENT_WINESERVER:-$(dpkg -L wine64 2>/dev/null | grep -m1 '/wineserver64$' || true)}"

# The service's state as `sc query` prints it: RUNNING, PAUSED, STOPPED...
service_state() {
  timeout 30 "$WINE" sc query "$SERVICE_NAME" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}

# Waits up to $2 seconds for the service's state $1.
service_wait_state() {
  for _ in $(seq $(($2 * 5))); do
    [ "$(service_state)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}

# Waits up to $3 seconds for a journal line matching $2 after line $1.
service_journal_wait() {
  for _ in $(seq $(($3 * 5))); do
    tail -n "+$1" "$service_log" 2>/dev/null | tr -d '\r' | grep -q -E "$2" && return 0
    sleep 0.2
  done
  return 1
}

service_fail() {
  tail -n 30 "$service_log" >&2 2>/dev/null
  # Not left installed in the prefix, to start in a later run.
  timeout 60 "$WINE" "$OUT/bin/upload-agent.exe" --uninstall-service --service-name "$SERVICE_NAME" \
    >/dev/null 2>&1
  "$WINESERVER" -k 2>/dev/null
  fail "service: $*"
}

# A count from the office's local database of the service's folder.
service_local_count() {
  "$LINUX_BUILD/bin/agent-sql" --home "$service_home" -S "$service_home/$DEMO_LOCAL_SERVER" -U SA \
    -P "$DEMO_SA_PASSWORD" -d "$DEMO_LOCAL_DB" -Q "select count(*) from $1" 2>/dev/null |
    tr -d ' \r' | grep -m1 -E '^[0-9]+$'
}

service_test() {
  local work="$1" db="$2" start status began took
  service_home="$work/service"
  service_log="$service_home/log/agent.log"
  rm -rf "$service_home"
  cp -a "$work/windows" "$service_home"
  rm -f "$service_home/agent.state"
  local home_windows
  home_windows="$(windows_name "$service_home")"
  # (-p only starts a server: the one the earlier tests left is ended first.)
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  "$WINESERVER" -p || fail "service: cannot keep a wineserver running"

  # ---- 1. install, start, a cycle, pause and continue ----------------------
  wine_run "$OUT/bin/upload-agent.exe" --install-service --service-name "$SERVICE_NAME" \
    --home "$home_windows" >"$work/service-install.out" 2>&1 ||
    { cat "$work/service-install.out"; service_fail "--install-service failed"; }
  "${client[@]}" "$db" -e "update control set flastupdendtime = null"
  # A public status left by an earlier run would stand for this one's.
  find "$WINEPREFIX/drive_c" -path "*/UploadAgent/$SERVICE_NAME.status" -delete 2>/dev/null
  start=1
  [ ! -f "$service_log" ] || start=$(($(wc -l <"$service_log") + 1))
  timeout 60 "$WINE" net start "$SERVICE_NAME" >"$work/service-start.out" 2>&1 ||
    { cat "$work/service-start.out"; service_fail "net start failed"; }
  service_journal_wait "$start" 'as a Windows service' 30 ||
    service_fail "the service did not start the agent on its folder"
  service_journal_wait "$start" 'cycle summary: ' 180 || service_fail "the service ran no cycle"
  [ "$("${client[@]}" -N "$db" -e "select count(*) from control where flastupdendtime is not null")" = 1 ] ||
    service_fail "the service's cycle did not stamp its end on the portal"
  echo "windows-test: the service started and ran a cycle (journal summary, end stamp on the portal)"
  # Its next and last cycle, where users who may not read its folder can.
  # (%ProgramData% is C:\users\Public under some Wine versions.)
  local public=""
  for _ in $(seq 100); do
    public="$(find "$WINEPREFIX/drive_c" -path "*/UploadAgent/$SERVICE_NAME.status" 2>/dev/null | head -n 1)"
    grep -q '^last_cycle=.*stamped' "$public" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^next_cycle=' "$public" 2>/dev/null && grep -q '^last_cycle=.*stamped' "$public" ||
    service_fail "no public status with the next and the last cycle ($public)"
  echo "windows-test: the service keeps its next and last cycle in its public status"

  # (Wine's sc.exe has no pause or continue: a small program of the tests
  # sends them, as sc pause and sc continue do.)
  timeout 30 "$WINE" "$OUT/bin/service-control.exe" pause "$SERVICE_NAME"
  service_wait_state PAUSED 10 || service_fail "PAUSE did not pause the service ($(service_state))"
  service_journal_wait "$start" 'cycles paused' 10 || service_fail "the journal does not show the pause"
  timeout 30 "$WINE" "$OUT/bin/service-control.exe" continue "$SERVICE_NAME"
  service_wait_state RUNNING 10 || service_fail "CONTINUE did not resume the service ($(service_state))"
  service_journal_wait "$start" 'cycles continued' 10 || service_fail "the journal does not show the continue"
  echo "windows-test: the service paused and continued"

  # ---- 2. a stop in the middle of the payments --------------------------------
  timeout 60 "$WINE" net stop "$SERVICE_NAME" >/dev/null 2>&1
  service_wait_state STOPPED 10 || service_fail "net stop did not stop the idle service"
  "${client[@]}" "$db" -e "insert into rzp_paymentgateway (fdate, fadmno, famtpaidtoinst, forderid,
      ftransactionid, fmodeofpayment, fstatus) select now() - interval seq minute,
      concat('S', lpad(seq, 5, '0')), 100, concat('order_svc_', seq), concat('pay_svc_', seq),
      'UPI', 'captured' from seq_1_to_300" || service_fail "could not write the pending payments"
  local marked="select count(*) from rzp_paymentgateway where forderid like 'order_svc_%' and fdownloaddate is not null"
  start=$(($(wc -l <"$service_log") + 1))
  timeout 60 "$WINE" net start "$SERVICE_NAME" >/dev/null 2>&1 || service_fail "net start (payments) failed"
  for _ in $(seq 1500); do
    [ "$("${client[@]}" -N "$db" -e "$marked")" -ge 3 ] && break
    sleep 0.2
  done
  [ "$("${client[@]}" -N "$db" -e "$marked")" -ge 3 ] || service_fail "the payments were not being booked"
  began=$(date +%s%N)
  timeout 60 "$WINE" net stop "$SERVICE_NAME" >/dev/null 2>&1 &
  service_wait_state STOPPED 15 || service_fail "net stop in the payments did not stop the service"
  took=$((($(date +%s%N) - began) / 1000000))
  wait
  [ "$took" -lt 5000 ] || service_fail "the stop in the payments took $took ms"
  service_journal_wait "$start" 'stopped on request|stop requested' 5 ||
    service_fail "the journal does not show the stop"
  local booked paid orphans
  booked="$(service_local_count "rechead where fremarks like 'order_svc_%'")"
  paid="$(service_local_count "paygate where forderid like 'order_svc_%'")"
  orphans="$(service_local_count "recdetl where frecno not in (select frecno from rechead)")"
  [ -n "$booked" ] && [ "$booked" = "$paid" ] && [ "$orphans" = 0 ] ||
    service_fail "after the stop: $booked receipts, $paid paygate rows, $orphans lines without a receipt"
  [ "$booked" -lt 300 ] || service_fail "the stop came after the last payment"
  echo "windows-test: net stop in the payments: stopped in $took ms, $booked of 300 booked whole, none half"

  # ---- 3. a fresh session starts it by itself ----------------------------------
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  start=$(($(wc -l <"$service_log") + 1))
  "$WINESERVER" -p || service_fail "cannot start a new wineserver"
  timeout 120 "$WINE" wineboot >/dev/null 2>&1
  service_journal_wait "$start" 'cycle summary: ' 300 ||
    service_fail "the service did not start by itself in a new session"
  booked="$(service_local_count "rechead where fremarks like 'order_svc_%'")"
  local distinct unmarked
  distinct="$(service_local_count "(select distinct fremarks from rechead where fremarks like 'order_svc_%') d")"
  unmarked="$("${client[@]}" -N "$db" -e "select count(*) from rzp_paymentgateway where forderid like 'order_svc_%' and fdownloaddate is null")"
  [ "$booked" = 300 ] && [ "$distinct" = 300 ] && [ "$unmarked" = 0 ] ||
    service_fail "after the restart: $booked receipts for $distinct orders, $unmarked unmarked on the portal"
  echo "windows-test: a new Wine session started the service; every payment booked exactly once"

  # ---- 4. uninstall ---------------------------------------------------------------
  wine_run "$OUT/bin/upload-agent.exe" --uninstall-service --service-name "$SERVICE_NAME" \
    >"$work/service-uninstall.out" 2>&1 ||
    { cat "$work/service-uninstall.out"; service_fail "--uninstall-service failed"; }
  [ -z "$(service_state)" ] || service_fail "the service is still installed ($(service_state))"
  service_journal_wait "$start" 'stopped on request' 5 || service_fail "uninstall did not stop the service"
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  echo "windows-test: --uninstall-service stopped and removed the service"
}
