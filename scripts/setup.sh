#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root) and builds the
# project. KV_BUILD_DIR (default build) and KV_CMAKE_ARGS choose the build;
# KV_EXTRA_PACKAGES adds packages, KV_SETUP_ONLY=1 stops before the build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev postgresql
          libgtest-dev libbenchmark-dev duktape-dev ccache libcli11-dev
          libcpp-httplib-dev)
# The browser test: Debian's Chromium, driven by puppeteer-core from npm.
packages+=(chromium)
read -r -a extra <<<"${KV_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    sudo apt-get update -qq
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
fi

[ "${KV_SETUP_ONLY:-}" = 1 ] && exit 0
# The browser test's driver, as the lock file pins it (npm ci marks what it
# installed with node_modules/.package-lock.json).
installed=tests/browser/node_modules/.package-lock.json
if [ ! -f "$installed" ] || [ tests/browser/package-lock.json -nt "$installed" ]; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

build_dir=${KV_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja ${KV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
