#!/usr/bin/env bash
# Runs a command with the throwaway database servers the suites use, and
# stops them however the command ends (success, failure, Ctrl-C, TERM).
#   with-servers.sh DIR COMMAND [ARGS...]
# When KV_TEST_PG is not set and PostgreSQL's server binaries are there, a
# cluster is started in DIR/pg and KV_TEST_PG names it for the command.
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
