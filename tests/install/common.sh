# Checks shared by the install and package tests; sourced, with $work set
# to a scratch directory the caller removes.
fail() { echo "${0##*/}: $*" >&2; exit 1; }

# check_tree ROOT BUILD SOURCE: nothing in ROOT leads back to the build or
# the checkout; libraries are versioned and find each other through $ORIGIN.
# A sanitizer build (EXTRA_CXX_FLAGS given) records the source files' paths
# for its reports, so there only the build folder is looked for.
check_tree() {
  local root=$1 build=$2 source=$3 libdir f runpath hits dir
  [ -z "${flags:-}" ] || source=$build
  for dir in "$build" "$source"; do
    if hits=$(grep -rlF "$dir" "$root"); then fail "installed files name $dir: $hits"; fi
  done
  libdir=$(cd "$root" && ls -d lib*/ | head -n 1)
  libdir=${libdir%/}
  for f in bin/kvhost bin/kvregsvr "$libdir/libkvhtmldbtools10.so" "$libdir/libkvcom.so.1" \
           "$libdir/libkvdbal10.so.1" "$libdir/kvcom/registry" \
           "$libdir/cmake/KvHtmlDbTools/KvHtmlDbToolsConfigVersion.cmake" \
           "$libdir/pkgconfig/kvhtmldbtools.pc" include/kvhtmldbtools/KvHtmlDbTools.h \
           share/kvhtmldbtools/examples/site/default.asp share/kvhtmldbtools/examples/consumer/consumer.cpp; do
    [ -e "$root/$f" ] || fail "$f is not installed"
  done
  [ ! -e "$root/$libdir/kvcom/registry.lock" ] || fail "the registry's lock file is installed"
  readelf -d "$root/$libdir/libkvcom.so.1" | grep -q 'SONAME.*\[libkvcom\.so\.1\]' || fail "libkvcom has no versioned SONAME"
  for f in bin/kvhost "$libdir/libkvhtmldbtools10.so" "$libdir/libkvhostobjects.so.1"; do
    runpath=$(readelf -d "$root/$f" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
    case $runpath in
      '$ORIGIN'*) ;;
      *) fail "$f has RUNPATH '$runpath', not one relative to \$ORIGIN" ;;
    esac
  done
  # The system registry names the module relative to itself.
  grep -q '^@="\.\./libkvhtmldbtools10\.so"$' "$root/$libdir/kvcom/registry" ||
    fail "the system registry does not name the module relative to itself: $(cat "$root/$libdir/kvcom/registry")"
}

# isolate_user: no registry or data of the user running the tests counts.
isolate_user() {
  export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
  unset KVCOM_REGISTRY KVHOST_DATA_DIR
}

# make_demo_db PREFIX DB: the installed kvhost gives a new database the demo
# application.
make_demo_db() {
  local prefix=$1 db=$2
  "$prefix/bin/kvhost" --version | grep -q '^kvhost 1\.0' || fail "installed kvhost --version"
  echo "Response.Write('made');" >"$work/make.js"
  "$prefix/bin/kvhost" --db "sqlite:$db?mode=rwc" "$work/make.js" >"$work/make.out" 2>"$work/make.err" ||
    { cat "$work/make.err" >&2; fail "installed kvhost could not make the demo database"; }
  [ ! -s "$work/make.err" ] || fail "installed kvhost complained: $(cat "$work/make.err")"
}

# consumer PREFIX NAME FLAGS DB CMAKE-ARGS...: builds the installed consumer
# example against PREFIX and runs it on DB.
consumer() {
  local prefix=$1 name=$2 flags=$3 db=$4
  shift 4
  local src=$prefix/share/kvhtmldbtools/examples/consumer
  cmake -S "$src" -B "$work/$name" -G Ninja -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" "$@" \
    >"$work/$name.log" 2>&1 && cmake --build "$work/$name" >>"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log" >&2; fail "consumer ($name) does not build"; }
  "$work/$name/consumer" "sqlite:$db" 1 >"$work/$name.out" 2>"$work/$name.err" ||
    { cat "$work/$name.err" >&2; fail "consumer ($name) failed"; }
  grep -q '^order 1: strno=A1 lamount=[0-9]' "$work/$name.out" ||
    { cat "$work/$name.out" >&2; fail "consumer ($name) printed the wrong order"; }
  echo "${0##*/}: consumer ($name): $(cat "$work/$name.out")"
}

# no_user_registry: the class came from the system registry, nothing was
# registered for the user on the way.
no_user_registry() {
  [ ! -e "$XDG_CONFIG_HOME/kvcom/registry" ] || fail "a per-user registry was written: $(cat "$XDG_CONFIG_HOME/kvcom/registry")"
}
