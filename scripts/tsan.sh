#!/usr/bin/env bash
# Builds build-tsan with ThreadSanitizer and runs the test in which two
# threads use the component module at once (shared lock count, class-object
# cache and type-information cache). Exit code: that of the test.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${KV_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build_dir" -G Ninja -DKV_TSAN=ON >/dev/null
cmake --build "$build_dir" -j "${KV_JOBS:-2}" --target test_module
export KV_TEST_WORKDIR="$PWD/$build_dir/tests"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build_dir/tests/test_module" --gtest_filter='ThreadTest.*'
