#!/usr/bin/env bash
# Installs the Debian packages the agent, its demo and its tests need, then
# configures and builds the project into build/. Safe to run again: packages
# already present are skipped and the build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  unixodbc-dev odbc-mariadb tdsodbc libmariadb-dev openssl
  mariadb-server-core mariadb-client
  libsqlite3-dev sqlite3
  qt6-base-dev libgl-dev libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libspdlog-dev libfmt-dev libcli11-dev
  xvfb trayer xdotool imagemagick x11-utils
  dpkg-dev systemd clang
)

source scripts/packages-lib.sh
ensure_packages setup "${PACKAGES[@]}"

BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
cmake --build build --parallel "$(nproc)"
