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

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(g++-mingw-w64-x86-64-posix wine64 tcl dpkg-dev cmake ninja-build libgtest-dev
          libgmock-dev libspdlog-dev libfmt-dev libcli11-dev nsis zip unzip
          xvfb trayer xdotool imagemagick x11-utils)
source scripts/packages-lib.sh
ensure_packages windows "${PACKAGES[@]}"

mkdir -p "$OUT"

# ---- Debian source packages, fetched once ----------------------------------
# apt-get source through a private sources list and lists folder, so that the
# system's apt configuration is untouched. Runs "$@" (a command that fetches
# into the current folder) with APT_SOURCE_OPTS set.
with_source_lists() {
  local apt="$OUT/apt"
  rm -rf "$apt"
  mkdir -p "$apt/lists/partial" "$apt/sources.list.d" "$apt/cache/archives/partial"
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
  APT_SOURCE_OPTS=(-o "Dir::Etc::SourceList=$apt/sources.list"
                   -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                   -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
                   -o "Debug::NoLocking=1")
  apt-get "${APT_SOURCE_OPTS[@]}" update -qq
  "$@"
  local status=$?
  rm -rf "$apt"
  return $status
}

# Fetches source package $1 into the current folder: the version of the
# installed binary package $2 when the archive still has it, else each
# version the lists name, newest first (a security update's source can be
# missing from the mirror).
fetch_source() {
  local package="$1" binary="$2" version
  version=$(dpkg-query -W -f='${source:Version}' "$binary" 2>/dev/null || true)
  if [ -n "$version" ] &&
     apt-get "${APT_SOURCE_OPTS[@]}" source -qq --download-only "$package=$version" >/dev/null 2>&1; then
    return 0
  fi
  for version in $(apt-cache "${APT_SOURCE_OPTS[@]}" showsrc "$package" |
                   sed -n 's/^Version: //p' | sort -rV); do
    apt-get "${APT_SOURCE_OPTS[@]}" source -qq --download-only "$package=$version" >/dev/null 2>&1 &&
      return 0
  done
  echo "windows: no source of $package could be fetched" >&2
  return 1
}

# ---- SQLite's amalgamation, once -------------------------------------------
make_amalgamation() {
  local work="$OUT/sqlite-source"
  rm -rf "$work"
  mkdir -p "$work"
  echo "windows: fetching SQLite's source package"
  (cd "$work" && with_source_lists fetch_source sqlite3 libsqlite3-dev &&
     dpkg-source -x ./*.dsc >/dev/null)
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'sqlite3-*' | head -1)
  echo "windows: making sqlite3.c from $(basename "$src")"
  mkdir -p "$work/build"
  (cd "$work/build" && "$src/configure" --with-tcl=/usr/lib/tcl8.6 >/dev/null &&
     make -s sqlite3.c >/dev/null)
  mkdir -p "$OUT/sqlite"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$OUT/sqlite/"
  rm -rf "$work"
}
[ -f "$OUT/sqlite/sqlite3.c" ] && [ -f "$OUT/sqlite/sqlite3.h" ] || make_amalgamation

# ---- MariaDB Connector/C with Schannel, once ---------------------------------
# Debian has no source package of its own for Connector/C: it is the folder
# libmariadb/ of the mariadb source package, and only that folder is
# unpacked. It is built as a static library whose TLS is Windows' own
# Schannel (the Windows certificate store when no CA file is given), for
# Windows 7 and later: with MinGW's default target, Wine's crypt32 rejects
# the library's certificate chain engine settings. The authentication
# plugins that hand the server a readable password are left out.
make_connector_c() {
  local work="$OUT/connector-c-source"
  rm -rf "$work" "$OUT/connector-c"
  mkdir -p "$work"
  echo "windows: fetching MariaDB's source package for Connector/C"
  (cd "$work" && with_source_lists fetch_source mariadb libmariadb-dev)
  local tarball
  tarball=$(find "$work" -maxdepth 1 -name 'mariadb_*.orig.tar.gz' | head -1)
  tar -xzf "$tarball" -C "$work" --wildcards '*/libmariadb/*'
  local src
  src=$(find "$work" -maxdepth 2 -type d -name libmariadb | head -1)
  echo "windows: building Connector/C $(sed -n 's/.*PACKAGE_VERSION_PATCH \([0-9]*\).*/3.3.\1/p' "$src/CMakeLists.txt" | head -1) with Schannel"
  cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_C_FLAGS="-D_WIN32_WINNT=0x0601 -w" -DWITH_SSL=SCHANNEL \
    -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF \
    -DCLIENT_PLUGIN_DIALOG=OFF -DCLIENT_PLUGIN_SHA256_PASSWORD=OFF \
    -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=OFF -DCLIENT_PLUGIN_MYSQL_CLEAR_PASSWORD=OFF \
    -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=OFF -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC \
    -DCLIENT_PLUGIN_REMOTE_IO=OFF -DCLIENT_PLUGIN_PVIO_NPIPE=STATIC \
    -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC -DCLIENT_PLUGIN_ZSTD=OFF >/dev/null
  cmake --build "$work/build" --parallel "${WINDOWS_JOBS:-2}" --target mariadbclient >/dev/null
  mkdir -p "$OUT/connector-c/include" "$OUT/connector-c/lib"
  cp "$src"/include/*.h "$work"/build/include/*.h "$OUT/connector-c/include/"
  cp "$work/build/libmariadb/libmariadbclient.a" "$OUT/connector-c/lib/"
  rm -rf "$work"
}
[ -f "$OUT/connector-c/lib/libmariadbclient.a" ] || make_connector_c

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
  -DAGENT_WINDOWS_CONNECTOR_C="$OUT/connector-c" \
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
