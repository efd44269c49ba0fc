#!/usr/bin/env bash
# Set-up, build and run every test. When the PostgreSQL server binaries are
# there, a throwaway cluster is started and the database suites run on it too.
# KV_CTEST_ARGS passes further options to ctest (for example -R or -E).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${KV_BUILD_DIR:-build}

if [ -z "${KV_TEST_PG:-}" ] && [ -x scripts/pg-cluster.sh ]; then
  pg_env=$(bash scripts/pg-cluster.sh start "$build_dir/pg") || pg_env=""
  if [ -n "$pg_env" ]; then
    export KV_TEST_PG="$pg_env"
    trap 'bash scripts/pg-cluster.sh stop "$build_dir/pg" >/dev/null 2>&1 || true' EXIT
  fi
fi

cd "$build_dir"
# shellcheck disable=SC2086
ctest --output-on-failure -j "$(nproc)" --timeout 600 ${KV_CTEST_ARGS:-}
