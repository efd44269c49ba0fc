#!/usr/bin/env bash
# Set-up, build and serve the demo site (examples/site) on the embedded
# SQLite default: the order desk of the demo application, whose database is
# made on first use in data/. Prints the address and serves until Ctrl-C.
# Arguments go to kvhost serve, for example --port 8081, or
# --db postgresql://... for the same site on PostgreSQL (a database without
# the repository tables is given the demo application first).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
build_dir=${KV_BUILD_DIR:-build}

port=8080
bind=127.0.0.1
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in
    --port) port=${args[i + 1]:-$port} ;;
    --port=*) port=${args[i]#--port=} ;;
    --bind) bind=${args[i + 1]:-$bind} ;;
    --bind=*) bind=${args[i]#--bind=} ;;
  esac
done
echo "The demo site: http://$bind:$port/  (Ctrl-C stops it)"
echo "Sign in as anna / anna-demo (every order) or ben / ben-demo (his own and everybody's)."
export KVHOST_DATA_DIR=${KVHOST_DATA_DIR:-$PWD/data}
exec "$build_dir/tools/kvhost/kvhost" serve --root examples/site "$@"
