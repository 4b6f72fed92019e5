#!/usr/bin/env bash
# Clang's thread safety analysis over the agent's code (not the tests): every
# member marked GUARDED_BY(mutex) must be read and written with that mutex
# held, every function marked EXCLUSIVE_LOCKS_REQUIRED called with it held
# (base/mutex.h, base/thread_annotations.h). Only parses (-fsyntax-only),
# with the compile commands of a clang configuration in build-clang; the
# Qt front-end and the Windows files are left out. Exit status 0 when no
# file breaks a rule.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang++ >/dev/null || { echo "thread-safety-check: clang++ is not installed" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
# One line per file of the agent's folders: "directory<TAB>command".
python3 - build-clang/compile_commands.json >build-clang/thread-safety-commands.txt <<'PY'
import json, re, sys
for entry in json.load(open(sys.argv[1])):
    path = entry["file"]
    if not re.search(r"/(app/core|base|config|cycle|db|payments|upload|tools)/", path):
        continue
    if "/tests/" in path or path.endswith("_win32.cc"):
        continue
    command = re.sub(r"\s-o\s+\S+", "", entry["command"])
    print(entry["directory"] + "\t" + command + " -fsyntax-only -Wthread-safety -Werror=thread-safety")
PY
status=0
tr '\n' '\0' <build-clang/thread-safety-commands.txt |
  xargs -0 -P "$(nproc)" -I{} bash -c 'line="$1"; cd "${line%%$'"'"'\t'"'"'*}" && eval "${line#*$'"'"'\t'"'"'}"' _ {} ||
  status=1
files=$(wc -l <build-clang/thread-safety-commands.txt)
[ "$status" = 0 ] && echo "thread-safety-check: $files files, no rule broken" ||
  echo "thread-safety-check: a rule is broken (above)" >&2
exit "$status"
