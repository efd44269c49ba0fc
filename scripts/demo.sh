#!/usr/bin/env bash
# Set-up, build and run the main job on the embedded SQLite default: the
# script host runs the main demo page (a typical edit and a paged read in two
# languages) on the demo database, which it makes on first use. Arguments,
# when given, go to kvhost instead (for example another page).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
build_dir=${KV_BUILD_DIR:-build}
if [ $# -eq 0 ]; then
  set -- examples/pages/demo.js
fi
# The demo database lives in the checkout's data/ unless told otherwise.
export KVHOST_DATA_DIR=${KVHOST_DATA_DIR:-$PWD/data}
exec "$build_dir/tools/kvhost/kvhost" "$@"
