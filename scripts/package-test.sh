#!/bin/sh
# Builds the Debian package from a build folder, unpacks it into a scratch
# root and checks what an administrator gets: the file list, the maintainer
# scripts, that the programs start from the unpacked tree, and the service
# unit (systemd-analyze verify, and its hardening keys).
#
#   scripts/package-test.sh --build build
set -eu

build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack did not build the package"; }
deb=$(ls "$work"/out/upload-agent_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no upload-agent_*.deb in the cpack output"
echo "package: $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

# The files: programs, schema, examples, unit.
for f in usr/bin/upload-agent usr/bin/agent-sql \
         usr/share/upload-agent/schema/local.sql usr/share/upload-agent/schema/remote.sql \
         usr/share/doc/upload-agent/examples/Ostrel.INI \
         usr/share/doc/upload-agent/examples/remote-accounts.ini \
         usr/share/doc/upload-agent/examples/platform.ini \
         usr/lib/systemd/system/upload-agent@.service; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
[ -x "$root/usr/bin/upload-agent" ] || fail "/usr/bin/upload-agent is not executable"
# Nothing of the build or the tests goes into the package.
extra=$(cd "$root" && find . -type f | grep -E 'tests?_|demo-data|portal-sim|\.a$|/include/' || true)
[ -z "$extra" ] || fail "files that do not belong in the package: $extra"
echo "files: $(cd "$root" && find . -type f | wc -l) (programs, schema, examples, unit)"

# The control data: the user is made by postinst, which needs adduser; the
# library dependencies come from the programs.
grep -q '^Depends:.*adduser' "$work/control/control" || fail "Depends lacks adduser"
grep -q '^Depends:.*libodbc' "$work/control/control" || fail "Depends lacks the ODBC library"
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst does not make the system user"
sh -n "$work/control/postinst" || fail "postinst is not valid shell"
sh -n "$work/control/postrm" || fail "postrm is not valid shell"

# The unpacked program starts (its libraries are the system's).
"$root/usr/bin/upload-agent" --help >"$work/help.txt" 2>&1 || fail "upload-agent --help from the package failed"
grep -q -- '--check' "$work/help.txt" || fail "the packaged upload-agent has no --check"

# The unit: keys first (always), then systemd's own verifier.
unit="$root/usr/lib/systemd/system/upload-agent@.service"
for key in 'User=upload-agent' 'StateDirectory=upload-agent/%i' \
           'ExecStart=/usr/bin/upload-agent --headless --home /var/lib/upload-agent/%i' \
           'NoNewPrivileges=yes' 'ProtectSystem=strict' 'ReadWritePaths=/var/lib/upload-agent/%i' \
           'PrivateTmp=yes' 'ProtectHome=yes' 'WantedBy=multi-user.target'; do
  grep -qxF "$key" "$unit" || fail "the unit lacks the line $key"
done
if ! command -v systemd-analyze >/dev/null 2>&1; then
  fail "systemd-analyze is missing (apt-get install systemd); the unit was checked by its keys only"
fi
# The instance as systemd would load it, against the unpacked tree (so the
# ExecStart program is the packaged one) with the host's own units beside
# it (the targets a service depends on by default).
[ -d /usr/lib/systemd/system ] || fail "no /usr/lib/systemd/system here; the unit was checked by its keys only"
for f in /usr/lib/systemd/system/*; do
  [ -e "$root/usr/lib/systemd/system/${f##*/}" ] || cp -a "$f" "$root/usr/lib/systemd/system/"
done
if ! systemd-analyze verify --root="$root" upload-agent@office.service >"$work/verify.log" 2>&1; then
  cat "$work/verify.log" >&2
  fail "systemd-analyze verify rejects upload-agent@office.service"
fi
if [ -s "$work/verify.log" ]; then
  cat "$work/verify.log" >&2
  fail "systemd-analyze verify has remarks on the unit"
fi
echo "unit: systemd-analyze verify accepts upload-agent@office.service"
echo "package-test: OK"
