#!/usr/bin/env bash
# Prints how many lines of tests the code carries: non-blank, non-comment
# lines of C, C++ and JavaScript under tests/ against the product's own code
# (src/, platform/, tools/, demoapp/, examples/, bench/). Vendored sources and installed
# node modules are not ours and are left out. Counting is cloc's.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cloc >/dev/null || KV_EXTRA_PACKAGES=cloc KV_SETUP_ONLY=1 bash scripts/setup.sh >&2

langs="C,C++,C/C++ Header,JavaScript"
count() {
  # --timeout 0: on a busy machine cloc would otherwise skip a file it
  # finds slow to read, and the count would change from run to run.
  cloc --quiet --csv --timeout 0 --include-lang="$langs" --fullpath \
       --not-match-d='(node_modules|tools/kvhost/duktape)' "$@" |
    awk -F, '$2 == "SUM" { print $5 }'
}
tests=$(count tests)
code=$(count src platform tools demoapp examples bench)
awk -v t="${tests:-0}" -v c="${code:-0}" \
  'BEGIN { printf "tests %d lines, code %d lines, ratio %.2f\n", t, c, (c ? t / c : 0) }'
