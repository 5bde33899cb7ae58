#!/usr/bin/env bash
# The test command: installs missing packages, then builds and runs every test, in a release
# build and in a Debug build under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# further stages listed at the end (the scalar kernels, clang, Python, the browser, cross builds,
# packages). Its last line is "tests: N passed, N failed, N skipped".
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
source scripts/install_deps.sh
install_missing_packages

passed=0
skipped=0
# count_results LOG: adds the "N passed, N failed[, N skipped]" line that ends LOG to the totals.
count_results() {
  local line p s
  # An output comparison ends with "outputs: N identical to x86-64, N different": each identical
  # output counts as a passed check.
  line=$(grep -E '[0-9]+ passed, [0-9]+ failed|^outputs: [0-9]+ identical' "$1" | tail -n 1 | sed -E 's/([0-9]+) identical/\1 passed/' || true)
  p=$(grep -oE '[0-9]+ passed' <<<"$line" | grep -oE '[0-9]+' || true)
  s=$(grep -oE '[0-9]+ skipped' <<<"$line" | grep -oE '[0-9]+' || true)
  passed=$((passed + ${p:-0}))
  skipped=$((skipped + ${s:-0}))
}

# run_build DIR CMAKE_OPTIONS...: configures, builds and runs ctest in DIR.
run_build() {
  local dir=$1
  shift
  echo "== $dir"
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j2
  ctest --test-dir "$dir" --output-on-failure -j2 "${ctest_options[@]}" | tee "$dir/ctest.log"
  # ctest ended with 0: every test that ran passed or was skipped; count both for the summary.
  local total skip
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$dir/ctest.log")
  skip=$(grep -c '(Skipped)$' "$dir/ctest.log" || true)
  echo "$((total - skip)) passed, 0 failed, $skip skipped" >>"$dir/ctest.log"
  count_results "$dir/ctest.log"
}

# run_stage NAME COMMAND...: a further stage (cross builds, the browser page, ...) whose
# output ends with a "N passed, N failed[, N skipped]" line; a failing command fails the run.
run_stage() {
  local name=$1
  shift
  echo "== $name"
  mkdir -p build
  "$@" 2>&1 | tee "build/$name.log"
  count_results "build/$name.log"
}

# scripts/test.sh --quick: the native release build alone without the tests labelled slow (the
# install tests), for a developer's edit-and-test loop.
ctest_options=()
[ "${1:-}" = --quick ] && ctest_options=(-LE slow)
run_build build/release -DCMAKE_BUILD_TYPE=Release -DAMRCONV_SANITIZE=OFF
[ "${1:-}" = --quick ] && { echo "tests: $passed passed, 0 failed, $skipped skipped"; exit 0; }
run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DAMRCONV_SANITIZE=ON
# The portable scalar kernels, as on targets without SSE2: the whole suite, and every output
# byte for byte against the SSE2 build's.
run_build build/scalar -DCMAKE_BUILD_TYPE=Release -DAMRCONV_SIMD=OFF
run_stage scalar-outputs scripts/compare_outputs.sh build/scalar/compare build/scalar/app/amrconv
# The suite built by clang, the compiler of macOS and of the browser build, so that the code
# stays warning-free and exact under both compilers (the install tests, labelled slow, already
# build their consumers with both).
ctest_options=(-LE slow)
run_build build/clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_FLAGS=-Werror -DCMAKE_C_FLAGS=-Werror
# The Python package against amrconv, on the shared library (build/shared).
run_stage python scripts/test_python.sh
run_stage web tests/web/run.sh
# Cross builds, their test suites under Wine and qemu-user, and their outputs against x86-64's.
run_stage cross-mingw scripts/cross.sh mingw
run_stage cross-aarch64 scripts/cross.sh aarch64
run_stage cross-s390x scripts/cross.sh s390x
# The Debian package (installed and removed), the Windows zip under Wine and the source tarball.
run_stage packages tests/packages/run.sh
echo "all tests passed"
echo "tests: $passed passed, 0 failed, $skipped skipped"
