#!/usr/bin/env bash
# A throwaway MariaDB server for the test suites, reached through ODBC.
#   mariadb-server.sh start DIR   initialises DIR/data when absent, starts the
#                                 server listening only on a unix socket in
#                                 DIR, creates the database kvtest and its user
#                                 and prints an odbc: connection string for it
#   mariadb-server.sh stop DIR    stops the server
# Run as root, the server runs as the user mysql, who then owns DIR.
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)

server=$(command -v mariadbd || true)
[ -n "$server" ] || [ ! -x /usr/sbin/mariadbd ] || server=/usr/sbin/mariadbd
[ -n "$server" ] || { echo "mariadb-server: no MariaDB server binaries" >&2; exit 1; }

as_root=0
[ "$(id -u)" -eq 0 ] && as_root=1
as_server() {
  if [ $as_root -eq 1 ]; then runuser -u mysql -- "$@"; else "$@"; fi
}

# The server lives in DIR itself when its user can reach it there; otherwise
# (DIR below a directory closed to others) in a directory under /tmp whose
# name DIR/location keeps. A socket's path must also stay short.
home=$dir
if [ -f "$dir/location" ]; then
  home=$(cat "$dir/location")
elif [ "$command" = start ]; then
  [ $as_root -eq 1 ] && chown mysql:mysql "$dir"
  if [ ${#dir} -gt 80 ] || { [ $as_root -eq 1 ] && ! runuser -u mysql -- test -x "$dir"; }; then
    home=$(mktemp -d /tmp/kv-mariadb.XXXXXX)
    [ $as_root -eq 1 ] && chown mysql:mysql "$home"
    echo "$home" >"$dir/location"
  fi
fi
data=$home/data
socket=$home/mariadb.sock
pidfile=$home/mariadb.pid

running() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }
client() { mariadb --no-defaults --socket="$socket" -uroot "$@"; }

# The ODBC driver the system registers for MariaDB (or MySQL).
driver_name() {
  local name
  name=$(odbcinst -q -d 2>/dev/null | tr -d '[]' | grep -i -m1 'mariadb' || true)
  [ -n "$name" ] || name=$(odbcinst -q -d 2>/dev/null | tr -d '[]' | grep -i -m1 'mysql' || true)
  echo "${name:-MariaDB Unicode}"
}

case $command in
  start)
    if [ ! -d "$data/mysql" ]; then
      user_option=()
      [ $as_root -eq 1 ] && user_option=(--user=mysql)
      mariadb-install-db --no-defaults "${user_option[@]}" --datadir="$data" \
        --auth-root-authentication-method=normal --skip-test-db >"$home/install.log" 2>&1 ||
        { cat "$home/install.log" >&2; exit 1; }
    fi
    if ! running; then
      # Only a unix socket; a throwaway server need not survive a power
      # cut, so it does not wait for the disk. Long fields travel in one
      # packet, so the packet limit is well above the largest test value.
      as_server "$server" --no-defaults --datadir="$data" --socket="$socket" --pid-file="$pidfile" \
        --skip-networking --log-error="$home/server.log" --innodb-flush-log-at-trx-commit=0 \
        --innodb-doublewrite=0 --skip-log-bin --max-allowed-packet=256M --max-connections=500 \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_bin </dev/null >/dev/null 2>&1 &
      for _ in $(seq 600); do
        client -e 'SELECT 1' >/dev/null 2>&1 && break
        sleep 0.1
      done
      client -e 'SELECT 1' >/dev/null 2>&1 || { cat "$home/server.log" >&2; exit 1; }
    fi
    client -e "CREATE DATABASE IF NOT EXISTS kvtest;
               CREATE USER IF NOT EXISTS 'kvtest'@'localhost' IDENTIFIED BY 'kvtest';
               GRANT ALL PRIVILEGES ON *.* TO 'kvtest'@'localhost';"
    echo "odbc:Driver={$(driver_name)};Socket=$socket;Database=kvtest;UID=kvtest;PWD=kvtest"
    ;;
  stop)
    if running; then
      pid=$(cat "$pidfile")
      client -e 'SHUTDOWN' >/dev/null 2>&1 || kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    # A server kept under /tmp is not left behind.
    if [ "$home" != "$dir" ]; then
      rm -rf "$home" "$dir/location"
    fi
    ;;
  *)
    usage
    ;;
esac
