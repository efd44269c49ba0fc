#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root) and builds the
# project, saying what it does on the way. KV_BUILD_DIR (default build) and
# KV_CMAKE_ARGS choose the build; KV_EXTRA_PACKAGES adds packages,
# KV_SETUP_ONLY=1 stops before the build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev postgresql
          libgtest-dev libbenchmark-dev duktape-dev ccache libcli11-dev
          libcpp-httplib-dev libmicrohttpd-dev libsodium-dev)
# The ODBC engine: the driver manager, and the drivers and server it is
# proven on.
packages+=(unixodbc-dev odbcinst odbc-mariadb odbc-postgresql mariadb-server mariadb-client)
# The install and package tests: cpack's Debian generator and its helpers.
packages+=(dpkg-dev binutils file)
# The browser test: Debian's Chromium, driven by puppeteer-core from npm.
packages+=(chromium)
# bench/farm: the balancer in front of several serve processes, and the
# load driver's interpreter.
packages+=(haproxy python3)
read -r -a extra <<<"${KV_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "setup: installing the Debian packages ${missing[*]}" >&2
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
else
  echo "setup: the Debian packages are there (${#packages[@]} checked)" >&2
fi

[ "${KV_SETUP_ONLY:-}" = 1 ] && exit 0
# The browser test's driver, as the lock file pins it (npm ci marks what it
# installed with node_modules/.package-lock.json).
installed=tests/browser/node_modules/.package-lock.json
if [ ! -f "$installed" ] || [ tests/browser/package-lock.json -nt "$installed" ]; then
  echo "setup: installing the browser test's driver (npm ci in tests/browser)" >&2
  (cd tests/browser && npm ci --no-audit --no-fund)
fi

build_dir=${KV_BUILD_DIR:-build}
echo "setup: configuring $build_dir (cmake -G Ninja ${KV_CMAKE_ARGS:-}) and building it" >&2
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja ${KV_CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$(nproc)"
