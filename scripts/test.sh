#!/usr/bin/env bash
# Set-up, build and run every test. When the PostgreSQL or MariaDB server
# binaries are there, throwaway servers are started and the database suites
# run on them too (PostgreSQL directly and through ODBC, MariaDB through ODBC).
# KV_CTEST_ARGS passes further options to ctest (for example -R or -E).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${KV_BUILD_DIR:-build}


# shellcheck disable=SC2086
bash scripts/with-servers.sh "$build_dir" \
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600 ${KV_CTEST_ARGS:-}
