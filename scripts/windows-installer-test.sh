#!/usr/bin/env bash
# Tests the Windows installer under Wine (called by scripts/windows-test.sh),
# in a Wine prefix of its own made afresh for every run:
#
#   1. upload-agent-setup.exe /S installs the built programs, the schema and
#      examples into Program Files, makes the settings files of the program
#      folder (ProgramData\Upload Agent) from the examples, the Start menu
#      and Startup shortcuts, the Add/Remove Programs entry and
#      UPLOAD_AGENT_HOME; the installed agent finds its program folder;
#   2. run again over an office's edited settings, journal and state, with
#      the agent running (an upgrade): the programs are replaced, the edited
#      settings file is kept, a deleted one comes back from the example,
#      nothing else is touched;
#   3. uninstall.exe /S removes the programs, shortcuts and registry entries
#      and keeps the program folder whole; a reinstall picks it up again;
#   4. /S /SERVICE=yes /TRAY=no installs the service on the program folder
#      and no Startup shortcut; uninstall.exe /S stops and removes it.
#
#   scripts/windows-installer-test.sh [build-windows]
#
# Every Wine call is bounded in time; when Wine cannot start, it says so and
# fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
OUT="$(cd "${1:-build-windows}" && pwd)"
SETUP="$OUT/upload-agent-setup.exe"

WINE="${AGENT_WINE:-$(dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)}"
WINESERVER="${AGENT_WINESERVER:-$(dpkg -L wine64 2>/dev/null | grep -m1 '/wineserver64$' || true)}"
export WINEPREFIX="$OUT/wine-installer-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
work="$(mktemp -d "${TMPDIR:-/tmp}/agent-windows-installer.XXXXXX")"
trap 'rm -rf "$work"' EXIT

fail() {
  echo "windows-installer-test: FAIL: $*" >&2
  [ -x "$WINESERVER" ] && "$WINESERVER" -k 2>/dev/null
  exit 1
}

# One Wine program, at most two minutes.
wine_run() {
  timeout 120 "$WINE" "$@"
}

PRODUCT="Upload Agent"
DRIVE="$WINEPREFIX/drive_c"
PROGRAMS="$DRIVE/Program Files/$PRODUCT"
HOME_UNIX="$DRIVE/ProgramData/$PRODUCT"
HOME_WINDOWS="C:\\ProgramData\\$PRODUCT"
MENU="$DRIVE/ProgramData/Microsoft/Windows/Start Menu/Programs"
STARTUP="$MENU/StartUp/$PRODUCT.lnk"
SHORTCUTS=("$MENU/$PRODUCT/$PRODUCT.lnk" "$MENU/$PRODUCT/Check the settings.lnk"
           "$MENU/$PRODUCT/Settings and journal.lnk" "$MENU/$PRODUCT/Uninstall $PRODUCT.lnk"
           "$STARTUP")
UNINSTALL_KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$PRODUCT"
ENVIRONMENT_KEY="HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"

[ -f "$SETUP" ] || fail "no $SETUP (scripts/windows.sh --installer makes it)"
VERSION="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$OUT/CPackConfig.cmake")"
[ -n "$VERSION" ] || fail "no CPACK_PACKAGE_VERSION in $OUT/CPackConfig.cmake"

# ---- Wine --------------------------------------------------------------------
[ -n "$WINE" ] && [ -x "$WINE" ] || fail "Wine cannot start: no wine64 loader (Debian package wine64)"
[ -n "$WINESERVER" ] && [ -x "$WINESERVER" ] || fail "Wine cannot start: no wineserver64 (Debian package wine64)"
rm -rf "$WINEPREFIX"
if ! wine_run wineboot --init >"$OUT/wineboot-installer.log" 2>&1; then
  tail -n 5 "$OUT/wineboot-installer.log" >&2
  fail "Wine cannot start (wineboot failed, prefix $WINEPREFIX)"
fi

# A registry value as `reg query` prints it ("" when absent).
reg_value() {
  wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# A shortcut's text: its UTF-16 strings read as ASCII.
shortcut_text() {
  tr -d '\000' <"$1"
}

# run_setup WHAT [SWITCH...]
run_setup() {
  local status=0 what="$1"
  shift
  wine_run "$SETUP" /S "$@" || status=$?
  [ "$status" -eq 0 ] || fail "upload-agent-setup.exe /S $* ended with status $status ($what)"
}

programs_are_the_built_ones() {
  for p in upload-agent.exe agent-sql.exe; do
    cmp -s "$OUT/bin/$p" "$PROGRAMS/$p" || fail "$1: $PROGRAMS/$p is not the built $p"
  done
}

# ---- 1. a first install --------------------------------------------------------
run_setup "first install"
programs_are_the_built_ones "first install"
for f in schema/local.sql schema/remote.sql examples/Ostrel.INI examples/remote-accounts.ini \
         examples/platform.ini uninstall.exe; do
  [ -f "$PROGRAMS/$f" ] || fail "first install: no $f in $PROGRAMS"
done
cmp -s examples/Ostrel.INI "$HOME_UNIX/Ostrel.INI" || fail "Ostrel.INI is not the example's"
cmp -s examples/remote-accounts.ini "$HOME_UNIX/remote-accounts.ini" ||
  fail "remote-accounts.ini is not the example's"
# The Windows programs reach the portal through their built-in native
# driver: the installed platform.ini names it, not an ODBC driver.
grep -q '^MySQL ODBC 3.51 Driver = mariadb' "$HOME_UNIX/platform.ini" ||
  fail "platform.ini does not send the portal's driver to the native driver"
grep -q '^MySQL ODBC 3.51 Driver = odbc:' "$HOME_UNIX/platform.ini" &&
  fail "platform.ini sends the portal's driver to ODBC"
# (The program folder's ACL, which the installer sets with icacls, cannot be
# read back under Wine: Wine stores none. docs/security.md gives the check
# on real Windows.)
for s in "${SHORTCUTS[@]}"; do
  [ -f "$s" ] || fail "first install: no shortcut ${s#"$DRIVE"/}"
done
# The tray agent starts at log-on on the program folder.
shortcut_text "$STARTUP" | grep -qF 'Upload Agent\upload-agent.exe' ||
  fail "the Startup shortcut does not start upload-agent.exe"
shortcut_text "$STARTUP" | grep -qF -- "--home \"$HOME_WINDOWS\"" ||
  fail "the Startup shortcut does not name the program folder $HOME_WINDOWS"

[ "$(reg_value "$UNINSTALL_KEY" DisplayName)" = "$PRODUCT" ] || fail "no DisplayName in $UNINSTALL_KEY"
[ "$(reg_value "$UNINSTALL_KEY" DisplayVersion)" = "$VERSION" ] ||
  fail "DisplayVersion in $UNINSTALL_KEY is not $VERSION"
[ "$(reg_value "$UNINSTALL_KEY" UninstallString)" = "\"C:\\Program Files\\$PRODUCT\\uninstall.exe\"" ] ||
  fail "UninstallString in $UNINSTALL_KEY does not name the uninstaller"
[ "$(reg_value "$ENVIRONMENT_KEY" UPLOAD_AGENT_HOME)" = "$HOME_WINDOWS" ] ||
  fail "UPLOAD_AGENT_HOME is not $HOME_WINDOWS"

# The installed agent, started without --home as from a command prompt,
# finds its program folder through UPLOAD_AGENT_HOME.
wine_run "C:\\Program Files\\$PRODUCT\\upload-agent.exe" --status >"$work/installed-status.out" 2>&1 ||
  { cat "$work/installed-status.out" >&2; fail "the installed upload-agent.exe --status failed"; }
tr -d '\r' <"$work/installed-status.out" | grep -qxF "program folder: $HOME_WINDOWS" ||
  { cat "$work/installed-status.out" >&2; fail "the installed agent does not find $HOME_WINDOWS"; }
echo "windows-installer-test: installed $VERSION: programs, settings from the examples, 5 shortcuts, Add/Remove Programs entry, UPLOAD_AGENT_HOME"

# ---- 2. an upgrade over an office's files -------------------------------------
# The office's own: an edited settings file, a journal, the change-detection
# state, an export; a settings file deleted by mistake comes back.
printf '; edited by the office\r\n' >>"$HOME_UNIX/Ostrel.INI"
cp "$HOME_UNIX/Ostrel.INI" "$work/ostrel.edited"
rm "$HOME_UNIX/platform.ini"
mkdir -p "$HOME_UNIX/log" "$HOME_UNIX/CSV"
echo "cycle end: the office's journal" >"$HOME_UNIX/log/agent.log"
echo "state" >"$HOME_UNIX/upload-state.sqlite"
echo "1|2|3" >"$HOME_UNIX/CSV/fees.txt"
(cd "$HOME_UNIX" && find . -type f ! -name platform.ini -exec md5sum {} + | sort -k2) >"$work/office.before"
# Older programs, to be replaced: agent-sql.exe a plain file, and
# upload-agent.exe running (as the tray agent of a logged-on user would),
# which Windows lets be renamed but not replaced. It runs while its standard
# input stays open. (Bytes after a program's image do not stop it running.)
echo "an older agent-sql" >"$PROGRAMS/agent-sql.exe"
echo "an older agent" >>"$PROGRAMS/upload-agent.exe"
mkfifo "$work/hold"
timeout 120 "$WINE" "C:\\Program Files\\$PRODUCT\\upload-agent.exe" --scramble-password \
  <"$work/hold" >/dev/null 2>&1 &
running=$!
exec 3>"$work/hold"
# Wine names a process by its Windows command line once its image is loaded
# (only this test's: the children of its timeout).
loaded='^C:.*upload-agent\.exe --scramble-password'
for _ in $(seq 60); do
  pgrep -P "$running" -f "$loaded" >/dev/null && break
  sleep 0.5
done
pgrep -P "$running" -f "$loaded" >/dev/null || fail "the older upload-agent.exe did not start"

run_setup "upgrade"
programs_are_the_built_ones "upgrade"
kill -0 "$running" 2>/dev/null || fail "the upgrade ended the running agent"
exec 3>&-
wait "$running"
cmp -s "$work/ostrel.edited" "$HOME_UNIX/Ostrel.INI" || fail "the upgrade overwrote the edited Ostrel.INI"
(cd "$HOME_UNIX" && find . -type f ! -name platform.ini -exec md5sum {} + | sort -k2) >"$work/office.after"
diff "$work/office.before" "$work/office.after" >&2 ||
  fail "the upgrade changed the program folder's files"
cmp -s "$OUT/examples/platform.ini" "$HOME_UNIX/platform.ini" ||
  fail "the upgrade did not bring back the deleted platform.ini"
echo "windows-installer-test: upgrade replaced the programs (one running), kept the edited settings, journal and state, made the missing platform.ini"

# ---- 3. uninstall --------------------------------------------------------------
# The uninstaller copies itself to the temporary folder, starts the copy and
# returns; the copy is done when the prefix's last process has ended.
status=0
wine_run "C:\\Program Files\\$PRODUCT\\uninstall.exe" /S || status=$?
[ "$status" -eq 0 ] || fail "uninstall.exe /S ended with status $status"
timeout 120 "$WINESERVER" -w || fail "the uninstaller did not end within two minutes"
[ -e "$PROGRAMS" ] && { find "$PROGRAMS" >&2; fail "the uninstaller left $PROGRAMS"; }
for s in "${SHORTCUTS[@]}"; do
  [ -e "$s" ] && fail "the uninstaller left the shortcut ${s#"$DRIVE"/}"
done
[ -e "$MENU/$PRODUCT" ] && fail "the uninstaller left the Start menu folder"
wine_run reg query "$UNINSTALL_KEY" >/dev/null 2>&1 && fail "the uninstaller left $UNINSTALL_KEY"
[ -z "$(reg_value "$ENVIRONMENT_KEY" UPLOAD_AGENT_HOME)" ] || fail "the uninstaller left UPLOAD_AGENT_HOME"
(cd "$HOME_UNIX" && find . -type f ! -name platform.ini -exec md5sum {} + | sort -k2) >"$work/office.after"
diff "$work/office.before" "$work/office.after" >&2 ||
  fail "the uninstaller changed the program folder's files"
cmp -s "$OUT/examples/platform.ini" "$HOME_UNIX/platform.ini" || fail "the uninstaller changed platform.ini"

# A reinstall finds the office's settings as they were.
run_setup "reinstall"
programs_are_the_built_ones "reinstall"
cmp -s "$work/ostrel.edited" "$HOME_UNIX/Ostrel.INI" || fail "the reinstall overwrote the edited Ostrel.INI"
echo "windows-installer-test: uninstall removed programs, shortcuts and registry entries, kept settings, journal and state; a reinstall kept them"

# ---- 4. the service choice -------------------------------------------------------
# A service lives as long as the prefix's wineserver: one is kept running.
SERVICE_KEY="HKLM\\System\\CurrentControlSet\\Services\\UploadAgent"
# (-p only starts a server: the one the earlier steps left is ended first.)
"$WINESERVER" -k 2>/dev/null
timeout 120 "$WINESERVER" -w
"$WINESERVER" -p || fail "cannot keep a wineserver running for the service"
run_setup "service" /SERVICE=yes /TRAY=no
image="$(reg_value "$SERVICE_KEY" ImagePath)"
case "$image" in
  *'upload-agent.exe" --service '*"--home \"$HOME_WINDOWS\""*) ;;
  *) fail "/SERVICE=yes: the service's command line is '$image'" ;;
esac
[ "$(reg_value "$SERVICE_KEY" Start)" = "0x2" ] || fail "/SERVICE=yes: the service does not start automatically"
[ -e "$STARTUP" ] && fail "/TRAY=no left the Startup shortcut"
echo "windows-installer-test: /SERVICE=yes /TRAY=no installed the service on $HOME_WINDOWS, no Startup shortcut"
# An upgrade without switches keeps the choices: the service (stopped
# around the file replacement) and no Startup shortcut.
run_setup "upgrade with the service"
programs_are_the_built_ones "upgrade with the service"
[ "$(reg_value "$SERVICE_KEY" ImagePath)" = "$image" ] || fail "the upgrade did not keep the service"
[ -e "$STARTUP" ] && fail "the upgrade added the Startup shortcut beside the service"
echo "windows-installer-test: an upgrade kept the service and left out the Startup shortcut"
wine_run "C:\\Program Files\\$PRODUCT\\uninstall.exe" /S || fail "uninstall.exe /S (service) failed"
# The uninstaller's copy runs on: wait for it to have removed the service.
for _ in $(seq 120); do
  wine_run reg query "$SERVICE_KEY" >/dev/null 2>&1 || break
  sleep 1
done
wine_run reg query "$SERVICE_KEY" >/dev/null 2>&1 && fail "the uninstaller left the service"
echo "windows-installer-test: the uninstaller stopped and removed the service"
"$WINESERVER" -k 2>/dev/null
exit 0
