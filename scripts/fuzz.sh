#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) in
# build-fuzz and runs each on its committed seed corpus for KV_FUZZ_SECONDS
# seconds (default 25). New inputs go to a scratch directory, so the corpus
# in the tree stays as committed. A crash, a sanitizer report or a failed
# property stops the run with the target's exit code; libFuzzer leaves the
# input that did it as crash-* in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
KV_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev" KV_SETUP_ONLY=1 bash scripts/setup.sh

build_dir=${KV_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${KV_FUZZ_SECONDS:-25}
targets=(query_tables count_statements file_path number_text connection_string site_path)

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build_dir" -G Ninja -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "${KV_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

passed=0
for target in "${targets[@]}"; do
  findings="$build_dir/findings/$target"
  rm -rf "$findings" && mkdir -p "$findings/new"
  # A target whose input names things the fuzzer cannot see compared (files
  # of a tree) brings a dictionary of those names.
  dict=()
  [[ -f tests/fuzz/$target.dict ]] && dict=(-dict="tests/fuzz/$target.dict")
  echo "fuzz: $target for ${seconds}s" >&2
  "$build_dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${dict[@]}" \
    -artifact_prefix="$findings/" -print_final_stats=1 "$findings/new" "tests/fuzz/corpus/$target" \
    2>"$findings/log" || { tail -n 40 "$findings/log" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units' "$findings/log" | sed "s/^/fuzz: $target /" >&2
  passed=$((passed + 1))
done
echo "fuzz: $passed passed, 0 failed"
