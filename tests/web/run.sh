#!/usr/bin/env bash
# The browser page's test stage: builds the page (web/build.sh), the native amrconv and the
# one-hour stream, installs the test's npm packages (npm ci), then runs the kernels' differential
# test and the WebAssembly module's test under Node and the page's test in the system's headless
# Chromium. Its last line is "N passed, N failed, N skipped" over the three.
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/../.."
source scripts/install_deps.sh
install_missing_packages
install_missing_packages "${web_packages[@]}"
# Node.js 18 or later: Debian 12's own packages when the machine has none.
command -v node >/dev/null && command -v npm >/dev/null || install_missing_packages nodejs npm

web/build.sh build/web/site

# The kernels' differential test (tests/fast_paths_test.cpp: the SIMD128 and SSE2 kernels of the
# module against the scalar ones) compiled with the module's objects and GoogleTest from
# Debian's sources, run under Node.
install_missing_packages googletest
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH} EM_FROZEN_CACHE=1
gtest=/usr/src/googletest/googletest
if [ ! -f build/web/gtest-all.o ]; then
  emcc -std=c++20 -O2 -msimd128 -msse2 -I"$gtest/include" -I"$gtest" -c "$gtest/src/gtest-all.cc" \
    -o build/web/gtest-all.o
fi
# SINGLE_FILE: the module inside the script, which Node then need not fetch.
emcc -std=c++20 -O2 -msimd128 -msse2 -Wall -Wextra -I. -I"$gtest/include" -DAMRNBDEC_INTERNAL \
  tests/fast_paths_test.cpp "$gtest/src/gtest_main.cc" build/web/gtest-all.o build/web/obj/*.o \
  -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sSINGLE_FILE=1 -o build/web/fast_paths_test.js

# The native program the page is compared with, and the stream writer for the one-hour stream.
if [ ! -f build/release/CMakeCache.txt ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build/release -j2 --target amrconv amrstreamgen
mkdir -p build/web/streams
hour=build/web/streams/hour_mixed.wav
if [ ! -f "$hour" ]; then
  # The benchmarks' one-hour stream (bench/CMakeLists.txt, hour_mixed).
  build/release/tools/amrstreamgen --gen speech --mode-change 0.01 --seconds 3600 --seed 41 "$hour"
fi

(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)

export AMRCONV="$PWD/build/release/app/amrconv" AMRCONV_HOUR_STREAM="$PWD/$hour"
passed=0 failed=0 skipped=0 status=0
echo "-- tests/fast_paths_test.cpp under Node"
node build/web/fast_paths_test.js | tee build/web/fast_paths_test.log || status=1
ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests from .* ran\..*/\1/p' build/web/fast_paths_test.log)
ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\./\1/p' build/web/fast_paths_test.log)
passed=$((passed + ${ok:-0})) failed=$((failed + ${ran:-1} - ${ok:-0}))
for test in tests/web/wasm_test.mjs tests/web/page_test.mjs; do
  echo "-- $test"
  log=build/web/$(basename "$test" .mjs).log
  node "$test" | tee "$log" || status=1
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    echo "$test ended without its summary line"
    failed=$((failed + 1))
    status=1
    continue
  fi
  read -r p _ f _ s _ <<<"${line//,/}"
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
done
echo "$passed passed, $failed failed, $skipped skipped"
exit "$status"
