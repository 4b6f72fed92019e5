#!/usr/bin/env bash
# Cross-builds the Windows programs into build-windows/ with MinGW-w64:
# upload-agent.exe, agent-sql.exe and windows_unit_tests.exe, statically
# linked, and build-windows/upload-agent-windows.zip: the two programs with
# an example program folder (the folder `cmake --install` lays out). With
# --installer or --test, also makes the installer
# build-windows/upload-agent-setup.exe (NSIS, packaging/windows/). With
# --test, then runs them under Wine (scripts/windows-test.sh).
#
#   scripts/windows.sh              build and zip
#   scripts/windows.sh --installer  build and zip, and make the installer
#   scripts/windows.sh --test       build, zip and make the installer, then test under Wine
#
# Everything comes from Debian packages. SQLite's amalgamation is made once
# from Debian's sqlite3 source package and kept in build-windows/sqlite/;
# the source is fetched through a private sources list and lists folder, so
# the system's apt configuration is untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT="${WINDOWS_BUILD_DIR:-$ROOT/build-windows}"
TEST=0
[ "${1:-}" = "--test" ] && TEST=1
INSTALLER=$TEST
[ "${1:-}" = "--installer" ] && INSTALLER=1

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(g++-mingw-w64-x86-64-posix wine64 tcl dpkg-dev cmake ninja-build libgtest-dev
          libgmock-dev libspdlog-dev libfmt-dev libcli11-dev nsis zip unzip
          xvfb trayer xdotool imagemagick x11-utils)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows: installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$OUT"

# ---- SQLite's amalgamation, once -------------------------------------------
make_amalgamation() {
  local apt="$OUT/apt" work="$OUT/sqlite-source"
  rm -rf "$apt" "$work"
  mkdir -p "$apt/lists/partial" "$apt/sources.list.d" "$apt/cache/archives/partial" "$work"
  # The system's binary sources, as source entries of the same suites.
  : >"$apt/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' "$f" >>"$apt/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q 'debian' "$f" || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
  done
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list"
              -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
              -o "Debug::NoLocking=1")
  echo "windows: fetching SQLite's source package"
  apt-get "${opts[@]}" update -qq
  local version
  version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev 2>/dev/null || true)
  (cd "$work" && { apt-get "${opts[@]}" source -qq "sqlite3${version:+=$version}" >/dev/null ||
                   apt-get "${opts[@]}" source -qq sqlite3 >/dev/null; })
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'sqlite3-*' | head -1)
  echo "windows: making sqlite3.c from $(basename "$src")"
  mkdir -p "$work/build"
  (cd "$work/build" && "$src/configure" --with-tcl=/usr/lib/tcl8.6 >/dev/null &&
     make -s sqlite3.c >/dev/null)
  mkdir -p "$OUT/sqlite"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$OUT/sqlite/"
  rm -rf "$work" "$apt"
}
[ -f "$OUT/sqlite/sqlite3.c" ] && [ -f "$OUT/sqlite/sqlite3.h" ] || make_amalgamation

# ---- header-only libraries -------------------------------------------------
# Only these three header folders: the system include folder's C library
# headers would shadow MinGW's.
mkdir -p "$OUT/headers"
for d in spdlog fmt CLI; do ln -sfn "/usr/include/$d" "$OUT/headers/$d"; done

# ---- the build ---------------------------------------------------------------
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
  -DAGENT_WINDOWS_SQLITE="$OUT/sqlite" -DAGENT_WINDOWS_HEADERS="$OUT/headers" \
  "${launcher[@]}" >/dev/null
cmake --build "$OUT" --parallel "${WINDOWS_JOBS:-2}" --target upload-agent agent-sql windows_unit_tests
if [ "$INSTALLER" -eq 1 ]; then
  cmake --build "$OUT" --target upload-agent-setup
fi

# ---- the zip: the programs and an example program folder -------------------
# It unpacks to upload-agent/: upload-agent.exe, agent-sql.exe, the schema
# files, the commented example settings in examples/ and, beside the
# programs, the settings files to fill in.
stage="$OUT/zip-stage"
rm -rf "$stage" "$OUT/upload-agent-windows.zip"
cmake --install "$OUT" --prefix "$stage/upload-agent" --strip >/dev/null
(cd "$stage" && zip -q -r -X "$OUT/upload-agent-windows.zip" upload-agent)
rm -rf "$stage"
echo "windows: $OUT/upload-agent-windows.zip"

if [ "$TEST" -eq 1 ]; then
  exec scripts/windows-test.sh "$OUT"
fi
