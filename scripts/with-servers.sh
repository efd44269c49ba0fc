#!/usr/bin/env bash
# Runs a command with the throwaway database servers the suites use, and
# stops them however the command ends (success, failure, Ctrl-C, TERM).
#   with-servers.sh DIR COMMAND [ARGS...]
# When KV_TEST_PG is not set and PostgreSQL's server binaries are there, a
# cluster is started in DIR/pg and KV_TEST_PG names it for the command;
# KV_TEST_PG_ODBC then names the same cluster through PostgreSQL's ODBC driver
# when that is registered. When KV_TEST_MARIADB is not set and MariaDB's
# server binaries are there, a server is started in DIR/mariadb and
# KV_TEST_MARIADB names it (an odbc: connection string).
# The command's exit status is this script's.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 DIR COMMAND [ARGS...]" >&2; exit 2; }
scripts=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)
shift

started=()
stop_all() {
  local entry
  # Each entry is "SCRIPT:DIR", the script that started a server and its DIR.
  for entry in "${started[@]}"; do
    bash "$scripts/${entry%%:*}" stop "${entry#*:}" >/dev/null 2>&1 ||
      echo "with-servers: could not stop the server of ${entry%%:*} in ${entry#*:}" >&2
  done
  started=()
}
trap stop_all EXIT
# A signal ends the script through its EXIT trap, with the signal's status.
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if [ -z "${KV_TEST_PG:-}" ]; then
  # Marked before the start: a start that fails half-way is stopped too.
  started+=("pg-cluster.sh:$dir/pg")
  if pg_env=$(bash "$scripts/pg-cluster.sh" start "$dir/pg"); then
    export KV_TEST_PG=$pg_env
  else
    echo "with-servers: no PostgreSQL server, its suites are skipped" >&2
  fi
fi

# The cluster through PostgreSQL's ODBC driver, when it is registered.
if [ -z "${KV_TEST_PG_ODBC:-}" ] && [[ "${KV_TEST_PG:-}" =~ ^postgresql:///([^?]+)\?host=([^&]+)\&port=([0-9]+)\&user=([^&]+)$ ]]; then
  pg_driver=$(odbcinst -q -d 2>/dev/null | tr -d '[]' | grep -i -m1 'postgresql unicode' || true)
  if [ -n "$pg_driver" ]; then
    export KV_TEST_PG_ODBC="odbc:Driver={$pg_driver};Servername=${BASH_REMATCH[2]};Port=${BASH_REMATCH[3]};Database=${BASH_REMATCH[1]};UID=${BASH_REMATCH[4]}"
  fi
fi

if [ -z "${KV_TEST_MARIADB:-}" ] && { command -v mariadbd >/dev/null || [ -x /usr/sbin/mariadbd ]; }; then
  started+=("mariadb-server.sh:$dir/mariadb")
  if maria_env=$(bash "$scripts/mariadb-server.sh" start "$dir/mariadb"); then
    export KV_TEST_MARIADB=$maria_env
  else
    echo "with-servers: no MariaDB server, its suites are skipped" >&2
  fi
fi

# Not exec: the traps above must outlive the command. The command runs in
# the background and is waited for, so a signal to this script is handled at
# once rather than after the command ends.
"$@" &
child=$!
trap 'kill -INT $child 2>/dev/null; wait $child; exit 130' INT
trap 'kill -TERM $child 2>/dev/null; wait $child; exit 143' TERM HUP
status=0
wait $child || status=$?
exit $status
