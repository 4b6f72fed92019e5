#!/usr/bin/env bash
# Sets everything up (Debian packages, build) and runs the whole test suite
# next to one throwaway MariaDB server, which is stopped when the run ends;
# then the Windows build and its tests under Wine (scripts/windows.sh --test).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
status=0
scripts/test-env.sh ctest --test-dir build --output-on-failure -j "$(nproc)" "$@" || status=$?
# The whole suite includes the Windows programs, built with MinGW-w64 and
# tested under Wine; a run of chosen tests (ctest arguments) leaves them out.
if [ $# -eq 0 ]; then
  scripts/windows.sh --test || status=1
fi
exit "$status"
