#!/usr/bin/env bash
# Sets everything up (Debian packages, build) and runs the whole test suite
# next to one throwaway MariaDB server, which is stopped when the run ends.
# Then the unit tests that need no server run once more, built with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan, and again
# with ThreadSanitizer in build-tsan beside the server suites that start
# threads, after clang's thread safety analysis of the code (SKIP_SANITIZE=1
# leaves the three out), and last the Windows build and its
# tests under Wine (scripts/windows.sh --test; SKIP_WINDOWS=1 leaves it out).
# Between them, the README's two commands in their order: a demo program
# folder made by scripts/demo.sh, then the tray test on it (SKIP_DEMO=1
# leaves that out); and scripts/cluster-test.sh runs the agent against a
# three-node cluster (SKIP_CLUSTER=1 leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
status=0
scripts/test-env.sh ctest --test-dir build --output-on-failure -j "$(nproc)" "$@" || status=$?
# A run of chosen tests (ctest arguments) leaves out the sanitizer and
# Windows runs.
[ $# -eq 0 ] || exit "$status"

# The README's order: scripts/demo.sh, then the tray program on what it left
# (its portal server restarted as the demo made it, with TLS).
if [ "${SKIP_DEMO:-0}" != 1 ]; then
  demo_check="build/demo-check"
  rm -rf "$demo_check"
  if DEMO_DIR="$PWD/$demo_check" scripts/demo.sh >build/demo-check.log 2>&1; then
    scripts/tray-screenshot.sh --home "$demo_check" --out "$demo_check/tray.png" --check || status=1
  else
    echo "test: scripts/demo.sh failed (build/demo-check.log):" >&2
    tail -n 30 build/demo-check.log >&2
    status=1
  fi
fi

# The agent against a three-node Galera cluster on loopback (1 to 4 min;
# SKIP_CLUSTER=1 leaves it out).
if [ "${SKIP_CLUSTER:-0}" != 1 ]; then
  scripts/cluster-test.sh || status=1
fi

if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
  # Clang's thread safety analysis: every guarded member touched with its
  # mutex held (about 2 minutes).
  scripts/thread-safety-check.sh || status=1

  # The suites that run on their own: settings, the embedded engine, the
  # schedule, status line and the window's cycle thread, the journal,
  # export texts and payment maths.
  NO_SERVER_SUITES='^(Password|LocalSettings|ConnectionStrings|RemoteLinkSettings'
  NO_SERVER_SUITES+='|EngineCollation|EngineDateText|EngineNumberText'
  NO_SERVER_SUITES+='|EmbeddedEngineTest|ConcurrentWriterTest|AgentStatementsTest|Schedule'
  NO_SERVER_SUITES+='|ProgressText|WindowModelTest|Journal|Leftovers|CleanString|ExportWriterTest'
  NO_SERVER_SUITES+='|LoadStatementTest|ValueTextTest|PaymentAllocation|ReceiptNumbers'
  NO_SERVER_SUITES+='|NextSerial|RemoteLiteral|ValueReading)\.'
  # The test binaries alone, in a Debug build with one sanitizer option on.
  sanitizer_build() {
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-D$2=ON" \
      -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
    cmake --build "$1" --parallel "$(nproc)" \
      --target config_tests db_tests app_tests payments_tests upload_tests
  }
  sanitizer_build build-asan AGENT_SANITIZE
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -R "$NO_SERVER_SUITES" || status=1

  # ThreadSanitizer in build-tsan: the same suites, and the server suites
  # whose code starts threads (the streamed staging load, work ahead, a
  # stop from another thread or a signal, payments racing the portal), next
  # to their own private server. A race fails the test (ThreadSanitizer's
  # exit status).
  THREAD_SUITES='^(StreamedLoadTest|FeeBalancesTest|ReceiptsTest|StudentsStageTest|CycleTest'
  THREAD_SUITES+='|CycleLocks|RemoteConnection|BookingRace|PaymentCycle'
  THREAD_SUITES+='|AgentProcessTest)\.'
  sanitizer_build build-tsan AGENT_SANITIZE_THREAD
  export TSAN_OPTIONS="${TSAN_OPTIONS:-second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp}"
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -R "$NO_SERVER_SUITES" || status=1
  scripts/test-env.sh ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" \
    -R "$THREAD_SUITES" || status=1
fi

# The Windows programs, built with MinGW-w64 and tested under Wine.
if [ "${SKIP_WINDOWS:-0}" != 1 ]; then
  scripts/windows.sh --test || status=1
fi
exit "$status"
