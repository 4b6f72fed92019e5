#!/usr/bin/env bash
# Sets everything up (Debian packages, build) and runs the whole test suite
# next to one throwaway MariaDB server, which is stopped when the run ends.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
exec scripts/test-env.sh ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
