#!/usr/bin/env bash
# Builds the Debian package with cpack, unpacks it into a fresh root with
# dpkg -x (no maintainer scripts run: the package must work as its files
# are), checks the tree and runs the installed kvhost and the consumer
# example, built against the unpacked /usr, from there.
#   deb_package.sh BUILD_DIR SOURCE_DIR [EXTRA_CXX_FLAGS]
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
flags=${3:-}
work=$(mktemp -d /tmp/kv-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/common.sh"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/kvhtmldbtools_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no kvhtmldbtools_*.deb: $(ls "$work/pkg")"
info=$(dpkg-deb -f "$deb" Package Version Depends)
grep -q '^Package: kvhtmldbtools$' <<<"$info" || fail "package name: $info"
grep -q '^Depends:.*libsqlite3' <<<"$info" || fail "the package does not depend on SQLite: $info"
grep -q '^Depends:.*libpq' <<<"$info" || fail "the package does not depend on libpq: $info"

root=$work/root
dpkg -x "$deb" "$root"
check_tree "$root/usr" "$build" "$source"
isolate_user
make_demo_db "$root/usr" "$work/demo.db"
consumer "$root/usr" deb "$flags" "$work/demo.db" -DCMAKE_PREFIX_PATH="$root/usr"
no_user_registry
echo "deb_package.sh: $(basename "$deb") unpacks and runs"
