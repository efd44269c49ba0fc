#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the test suites.
#   pg-cluster.sh start DIR   initialises DIR/data when absent, starts the
#                             server listening only on a unix socket in DIR,
#                             creates the database kvtest and prints its URI
#                             (postgresql:///kvtest?host=DIR&port=PORT&user=postgres)
#   pg-cluster.sh restart DIR stops the server as an administrator's fast
#                             restart does (every session ended at once) and
#                             starts it again on the same socket
#   pg-cluster.sh stop DIR    stops the server
# Run as root, the server runs as the user postgres, who then owns DIR.
set -euo pipefail

usage() { echo "usage: $0 start|restart|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)

bindir=""
for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [ -x "$candidate/pg_ctl" ]; then bindir=$candidate; break; fi
done
if [ -z "$bindir" ]; then
  command -v pg_ctl >/dev/null || { echo "pg-cluster: no PostgreSQL server binaries" >&2; exit 1; }
  bindir=$(dirname "$(command -v pg_ctl)")
fi

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

running() { as_server "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1; }

# The cluster lives in DIR itself when the server's user can reach it there;
# otherwise (DIR below a directory closed to others) in a directory under
# /tmp whose name DIR/location keeps.
home=$dir
if [ -f "$dir/location" ]; then
  home=$(cat "$dir/location")
elif [ "$command" = start ] && [ "$(id -u)" -eq 0 ]; then
  chown postgres:postgres "$dir"
  if ! runuser -u postgres -- test -x "$dir"; then
    home=$(mktemp -d /tmp/kv-pg.XXXXXX)
    chown postgres:postgres "$home"
    echo "$home" >"$dir/location"
  fi
fi
data=$home/data

case $command in
  start)
    if [ ! -f "$data/PG_VERSION" ]; then
      as_server "$bindir/initdb" -D "$data" -U postgres --auth=trust -E UTF8 --no-locale >"$home/initdb.log" 2>&1 ||
        { cat "$home/initdb.log" >&2; exit 1; }
    fi
    if running; then
      port=$(cat "$home/port")
    else
      # Only a unix socket in the cluster's directory: the port just names
      # the socket file, so any number not in use there will do. A throwaway
      # cluster need not survive a power cut, so it does not wait for the disk.
      port=$((50000 + RANDOM % 10000))
      while [ -e "$home/.s.PGSQL.$port" ]; do port=$((port + 1)); done
      echo "$port" >"$home/port"
      as_server "$bindir/pg_ctl" -D "$data" -l "$home/server.log" -w -t 60 \
        -o "-k $home -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >/dev/null ||
        { cat "$home/server.log" >&2; exit 1; }
    fi
    if ! as_server "$bindir/psql" -h "$home" -p "$port" -U postgres -d postgres -tAc \
         "SELECT 1 FROM pg_database WHERE datname = 'kvtest'" | grep -q 1; then
      as_server "$bindir/createdb" -h "$home" -p "$port" -U postgres kvtest
    fi
    echo "postgresql:///kvtest?host=$home&port=$port&user=postgres"
    ;;
  restart)
    running || { echo "pg-cluster: no server running in $dir" >&2; exit 1; }
    # pg_ctl starts it with the options of the last start.
    as_server "$bindir/pg_ctl" -D "$data" -l "$home/server.log" -m fast -w -t 60 restart >/dev/null ||
      { cat "$home/server.log" >&2; exit 1; }
    ;;
  stop)
    if [ -f "$data/PG_VERSION" ] && running; then
      as_server "$bindir/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    fi
    # A cluster kept under /tmp is not left behind.
    if [ "$home" != "$dir" ]; then
      rm -rf "$home" "$dir/location"
    fi
    ;;
  *)
    usage
    ;;
esac
