#!/usr/bin/env bash
# The test command: installs missing packages, then builds and runs every test twice,
# in a release build and in a Debug build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
source tools/install_deps.sh
install_missing_packages

passed=0
skipped=0
run_build() {
  local dir=$1
  shift
  echo "== $dir"
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j2
  ctest --test-dir "$dir" --output-on-failure -j2 | tee "$dir/ctest.log"
  # ctest ended with 0: every test ran passed or was skipped; count both for the summary.
  local total skip
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$dir/ctest.log")
  skip=$(grep -c '(Skipped)$' "$dir/ctest.log" || true)
  passed=$((passed + total - skip))
  skipped=$((skipped + skip))
}

run_build build/release -DCMAKE_BUILD_TYPE=Release -DAMRCONV_SANITIZE=OFF
run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DAMRCONV_SANITIZE=ON
echo "all tests passed (release and sanitizer builds)"
echo "tests: $passed passed, 0 failed, $skipped skipped"
