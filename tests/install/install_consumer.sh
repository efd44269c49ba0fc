#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks what was installed (no path
# of the build or source folder in any file, versioned libraries, relative
# RUNPATH), makes the demo database with the installed kvhost, then builds
# the consumer example against the prefix twice (CMake package, pkg-config)
# and runs both builds.
#   install_consumer.sh BUILD_DIR SOURCE_DIR [EXTRA_CXX_FLAGS]
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
flags=${3:-}
work=$(mktemp -d /tmp/kv-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }
libdir=$(cd "$prefix" && ls -d lib*/ | head -n 1)
libdir=${libdir%/}

# Nothing installed may lead back to the build or the checkout.
for dir in "$build" "$source"; do
  if hits=$(grep -rlF "$dir" "$prefix"); then fail "installed files name $dir: $hits"; fi
done

for f in bin/kvhost bin/kvregsvr "$libdir/libkvhtmldbtools10.so" "$libdir/libkvcom.so.1" \
         "$libdir/libkvdbal10.so.1" "$libdir/cmake/KvHtmlDbTools/KvHtmlDbToolsConfigVersion.cmake" \
         "$libdir/pkgconfig/kvhtmldbtools.pc" include/kvhtmldbtools/KvHtmlDbTools.h \
         share/kvhtmldbtools/examples/site/default.asp; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
readelf -d "$prefix/$libdir/libkvcom.so.1" | grep -q 'SONAME.*\[libkvcom\.so\.1\]' || fail "libkvcom has no versioned SONAME"
for f in bin/kvhost "$libdir/libkvhtmldbtools10.so"; do
  runpath=$(readelf -d "$prefix/$f" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
  case $runpath in
    '$ORIGIN'*) ;;
    *) fail "$f has RUNPATH '$runpath', not one relative to \$ORIGIN" ;;
  esac
done

# The installed tools run from the prefix alone, with nothing of the user's
# registry or data in the way.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
unset KVCOM_REGISTRY KVHOST_DATA_DIR
"$prefix/bin/kvhost" --version | grep -q '^kvhost 1\.0' || fail "installed kvhost --version"
db=$work/demo.db
echo "Response.Write('made');" >"$work/make.js"
"$prefix/bin/kvhost" --db "sqlite:$db?mode=rwc" "$work/make.js" >"$work/make.out" 2>"$work/make.err" ||
  { cat "$work/make.err" >&2; fail "installed kvhost could not make the demo database"; }

consumer_src=$prefix/share/kvhtmldbtools/examples/consumer
build_consumer() {  # NAME CMAKE-ARGS...
  local name=$1; shift
  cmake -S "$consumer_src" -B "$work/$name" -G Ninja -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" "$@" >"$work/$name.log" 2>&1 &&
    cmake --build "$work/$name" >>"$work/$name.log" 2>&1 || { cat "$work/$name.log" >&2; fail "consumer ($name) does not build"; }
  "$work/$name/consumer" "sqlite:$db" 1 >"$work/$name.out" 2>"$work/$name.err" ||
    { cat "$work/$name.err" >&2; fail "consumer ($name) failed"; }
  grep -q '^order 1: strno=A1 lamount=[0-9]' "$work/$name.out" || { cat "$work/$name.out" >&2; fail "consumer ($name) printed the wrong order"; }
  echo "install test: consumer ($name): $(cat "$work/$name.out")"
}
build_consumer find-package -DCMAKE_PREFIX_PATH="$prefix"
PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig build_consumer pkg-config -DKV_CONSUMER_PKGCONFIG=ON
