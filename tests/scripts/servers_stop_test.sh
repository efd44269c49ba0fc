#!/usr/bin/env bash
# No database server started by scripts/with-servers.sh outlives it: not
# after the command succeeds, fails, or the script is stopped by a signal.
# Exit 77 (skipped) where there are neither PostgreSQL nor MariaDB server
# binaries.
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
have_pg=0 have_maria=0
{ ls -d /usr/lib/postgresql/*/bin/pg_ctl >/dev/null 2>&1 || command -v pg_ctl >/dev/null; } && have_pg=1
{ command -v mariadbd >/dev/null || [ -x /usr/sbin/mariadbd ]; } && have_maria=1
[ $have_pg -eq 1 ] || [ $have_maria -eq 1 ] || { echo "no PostgreSQL or MariaDB server binaries here"; exit 77; }
work=$(mktemp -d /tmp/kv-servers-test.XXXXXX)
chmod 755 "$work"
cleanup() {
  local run
  for run in "$work"/*/; do
    bash "$scripts/pg-cluster.sh" stop "${run}pg" >/dev/null 2>&1
    bash "$scripts/mariadb-server.sh" stop "${run}mariadb" >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT
unset KV_TEST_PG KV_TEST_PG_ODBC KV_TEST_MARIADB
failures=0

# The postmaster of a cluster made under DIR, if one runs: its command line
# names the cluster's data directory.
server_of() {
  local home=$1/pg
  [ -f "$home/location" ] && home=$(cat "$home/location")
  pgrep -f -- "-D $home/data" || pgrep -f -- "$home/data" || true
}

# The MariaDB server made under DIR, if one runs: its command line names
# its data directory.
maria_of() {
  local home=$1/mariadb
  [ -f "$home/location" ] && home=$(cat "$home/location")
  pgrep -f -- "--datadir=$home/data" || true
}

check() {  # NAME EXPECTED-STATUS STATUS
  local ok=1
  if [ "$3" -ne "$2" ]; then
    echo "FAIL $1: exit status $3, expected $2"; failures=$((failures + 1)); ok=0
  fi
  if [ -n "$(server_of "$work/$1")" ]; then
    echo "FAIL $1: a PostgreSQL server still runs"; failures=$((failures + 1)); ok=0
  fi
  if [ -n "$(maria_of "$work/$1")" ]; then
    echo "FAIL $1: a MariaDB server still runs"; failures=$((failures + 1)); ok=0
  fi
  [ $ok -eq 1 ] && echo "ok $1"
}

# The command sees every server that could be started.
bash "$scripts/with-servers.sh" "$work/succeeds" bash -c \
  '{ [ "$0" -eq 0 ] || [ -n "$KV_TEST_PG" ]; } && { [ "$1" -eq 0 ] || [ -n "$KV_TEST_MARIADB" ]; }' \
  "$have_pg" "$have_maria"
check succeeds 0 $?

bash "$scripts/with-servers.sh" "$work/fails" bash -c 'exit 3'
check fails 3 $?

# Stopped while the command still runs, as Ctrl-C or a CI timeout would.
mkdir -p "$work/stopped"
bash "$scripts/with-servers.sh" "$work/stopped" bash -c 'touch "$0/running"; sleep 60' "$work/stopped" &
runner=$!
for _ in $(seq 600); do [ -f "$work/stopped/running" ] && break; sleep 0.1; done
[ $have_pg -eq 0 ] || [ -n "$(server_of "$work/stopped")" ] ||
  { echo "FAIL stopped: no PostgreSQL server ran"; failures=$((failures + 1)); }
[ $have_maria -eq 0 ] || [ -n "$(maria_of "$work/stopped")" ] ||
  { echo "FAIL stopped: no MariaDB server ran"; failures=$((failures + 1)); }
kill -TERM $runner
wait $runner
check stopped 143 $?

[ $failures -eq 0 ]
