#!/usr/bin/env bash
# No database server started by scripts/with-servers.sh outlives it: not
# after the command succeeds, fails, or the script is stopped by a signal.
# Exit 77 (skipped) where there are no PostgreSQL server binaries.
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
ls -d /usr/lib/postgresql/*/bin/pg_ctl >/dev/null 2>&1 || command -v pg_ctl >/dev/null ||
  { echo "no PostgreSQL server binaries here"; exit 77; }
work=$(mktemp -d /tmp/kv-servers-test.XXXXXX)
chmod 755 "$work"
trap 'bash "$scripts/pg-cluster.sh" stop "$work/pg" >/dev/null 2>&1; rm -rf "$work"' EXIT
unset KV_TEST_PG
failures=0

# The postmaster of a cluster made under DIR, if one runs: its command line
# names the cluster's data directory.
server_of() {
  local home=$1/pg
  [ -f "$home/location" ] && home=$(cat "$home/location")
  pgrep -f -- "-D $home/data" || pgrep -f -- "$home/data" || true
}

check() {  # NAME EXPECTED-STATUS STATUS
  if [ "$3" -ne "$2" ]; then
    echo "FAIL $1: exit status $3, expected $2"; failures=$((failures + 1))
  fi
  if [ -n "$(server_of "$work/$1")" ]; then
    echo "FAIL $1: a PostgreSQL server still runs"; failures=$((failures + 1))
  else
    echo "ok $1"
  fi
}

bash "$scripts/with-servers.sh" "$work/succeeds" bash -c '[ -n "$KV_TEST_PG" ]'
check succeeds 0 $?

bash "$scripts/with-servers.sh" "$work/fails" bash -c 'exit 3'
check fails 3 $?

# Stopped while the command still runs, as Ctrl-C or a CI timeout would.
mkdir -p "$work/stopped"
bash "$scripts/with-servers.sh" "$work/stopped" bash -c 'touch "$0/running"; sleep 60' "$work/stopped" &
runner=$!
for _ in $(seq 600); do [ -f "$work/stopped/running" ] && break; sleep 0.1; done
[ -n "$(server_of "$work/stopped")" ] || { echo "FAIL stopped: no server ran"; failures=$((failures + 1)); }
kill -TERM $runner
wait $runner
check stopped 143 $?

[ $failures -eq 0 ]
