#!/usr/bin/env bash
# Set-up, build and run the main job on the embedded SQLite default.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
build_dir=${KV_BUILD_DIR:-build}
exec "$build_dir/examples/kvdemo" "$@"
