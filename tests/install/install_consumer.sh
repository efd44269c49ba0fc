#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks what was installed, makes
# the demo database with the installed kvhost, then builds the consumer
# example against the prefix twice (CMake package, pkg-config) and runs both.
#   install_consumer.sh BUILD_DIR SOURCE_DIR [EXTRA_CXX_FLAGS]
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
flags=${3:-}
work=$(mktemp -d /tmp/kv-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/common.sh"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "install failed"; }
check_tree "$prefix" "$build" "$source"
isolate_user
make_demo_db "$prefix" "$work/demo.db"
consumer "$prefix" find-package "$flags" "$work/demo.db" -DCMAKE_PREFIX_PATH="$prefix"
libdir=$(cd "$prefix" && ls -d lib*/ | head -n 1)
PKG_CONFIG_PATH=$prefix/${libdir%/}/pkgconfig consumer "$prefix" pkg-config "$flags" "$work/demo.db" -DKV_CONSUMER_PKGCONFIG=ON
no_user_registry
