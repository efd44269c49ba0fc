#!/usr/bin/env bash
# Line coverage of the component (src/), of the database access layer
# (platform/kvdbal) and of the script host (tools/kvhost) by the whole test
# suite, PostgreSQL included: builds the tree with gcov instrumentation in its
# own folder (KV_BUILD_DIR, default build-coverage), runs every test the way
# scripts/test.sh does and prints gcovr's summary for each of the three parts.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${KV_BUILD_DIR:-build-coverage}
flags="--coverage"

# Counts of an earlier run would add up with this one's.
[ -d "$build_dir" ] && find "$build_dir" -name '*.gcda' -delete

# The install tests are left out: instrumented binaries carry the build
# folder's path for their counters, which those tests rightly refuse.
status=0
KV_EXTRA_PACKAGES="gcovr ${KV_EXTRA_PACKAGES:-}" KV_BUILD_DIR=$build_dir \
  KV_CMAKE_ARGS="-DCMAKE_C_FLAGS=$flags -DCMAKE_CXX_FLAGS=$flags ${KV_CMAKE_ARGS:-}" \
  KV_CTEST_ARGS="-E ^Install\\. ${KV_CTEST_ARGS:-}" bash scripts/test.sh || status=$?
[ "$status" -eq 0 ] || echo "coverage: some tests failed (exit $status); the figures count what ran" >&2

# Objects of test sources that were since removed stay in the build folder,
# counted by no run: gcov would look for their sources in vain.
find "$build_dir/tests" -name '*.gcno' | while read -r notes; do
  [ -f "${notes%.gcno}.gcda" ] || rm -f "$notes"
done

# One gcov pass over the build, then a summary per part from its result.
# Forked test processes can leave gcov a negative branch count; gcovr skips
# those lines of branch data, which line coverage does not use.
gcovr --root . --object-directory "$build_dir" --filter 'src/' --filter 'platform/kvdbal/' --filter 'tools/kvhost/' \
      --gcov-ignore-parse-errors --json --output "$build_dir/coverage.json" 2>"$build_dir/gcovr.log" ||
  { cat "$build_dir/gcovr.log" >&2; exit 1; }
# Each part's file-by-file report lands beside the counts; the summary is printed.
for part in src platform/kvdbal tools/kvhost; do
  echo "== line coverage of $part/"
  gcovr --root . --add-tracefile "$build_dir/coverage.json" --filter "$part/" --print-summary \
        --output "$build_dir/coverage-${part//\//-}.txt" | grep -E '^(lines|functions):'
done
exit "$status"
