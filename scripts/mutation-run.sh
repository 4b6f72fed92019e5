#!/usr/bin/env bash
# Shows that the test suite catches faults: applies each mutant of
# scripts/mutants.txt (a flipped comparison, a dropped statement, a changed
# constant) to the source, rebuilds only the test binary that exercises it,
# runs only the suites named for it next to one throwaway MariaDB server, and
# records whether a test failed (killed) or none did (survived). The source is
# restored after each mutant, also when the run is interrupted.
#
#   scripts/mutation-run.sh [--build DIR] [--only ID[,ID...]]
#
# Results go to DIR/mutation/results.txt (id, outcome) and the share killed to
# the last line of the output. Each mutant's test run is limited to
# MUTATION_TIMEOUT seconds (600); a run that hits the limit counts as killed
# (the fault hung a test) and is marked as such.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --only) only=",$2,"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--only ID[,ID...]]" >&2; exit 2 ;;
  esac
done

# One server for the whole run.
if [ -z "${AGENT_TEST_MARIADB_HOST:-}" ]; then
  exec scripts/test-env.sh "$PWD/scripts/mutation-run.sh" --build "$build" ${only:+--only "${only:1:-1}"}
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

out="$build/mutation"
mkdir -p "$out"
results="$out/results.txt"
: >"$results"
saved=""
restore() {
  if [ -n "$saved" ]; then
    # A new modification time: the next build compiles the source again.
    cp "$saved" "${saved%.orig}" && rm -f "$saved"
    saved=""
  fi
}
trap restore EXIT
trap 'exit 130' INT TERM

# apply FILE TEXT REPLACEMENT: replaces the one occurrence of TEXT ("\n" is a
# line break); fails when TEXT is not there exactly once.
apply() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, text, repl = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
src = open(path).read()
if src.count(text) != 1:
    sys.exit(f"{path}: the mutant's text occurs {src.count(text)} times")
open(path, 'w').write(src.replace(text, repl))
PY
}

killed=0
total=0
while IFS= read -r line; do
  case "$line" in '#'* | '') continue ;; esac
  # An empty replacement leaves the line ending in " |".
  [[ "$line" == *" |" ]] && line+=" "
  IFS=$'\x01' read -r id file binary suites text repl \
    <<<"$(sed 's/ | /\x01/g' <<<"$line")"
  [ -n "$only" ] && [[ "$only" != *",$id,"* ]] && continue
  repl="${repl% }"
  total=$((total + 1))
  cp -p "$file" "$file.orig" && saved="$file.orig"
  if ! apply "$file" "$text" "$repl"; then
    restore
    echo "$id not-applied" | tee -a "$results"
    continue
  fi
  if ! cmake --build "$build" --parallel 2 --target "$binary" >"$out/$id.build.log" 2>&1; then
    outcome=killed-by-build
  else
    timeout "${MUTATION_TIMEOUT:-600}" ctest --test-dir "$build" --stop-on-failure \
      -R "^($suites)\\." >"$out/$id.test.log" 2>&1
    case $? in
      0) outcome=survived ;;
      124) outcome=killed-by-timeout ;;
      *) outcome=killed ;;
    esac
  fi
  restore
  [[ "$outcome" == killed* ]] && killed=$((killed + 1))
  echo "$id $outcome" | tee -a "$results"
done <scripts/mutants.txt

# The binaries built from the restored source again.
cmake --build "$build" --parallel 2 >/dev/null 2>&1
echo "killed $killed of $total mutants"
