#!/usr/bin/env bash
# The Python package's tests (python/tests) with Debian's python3 and pytest: builds the shared
# library in build/shared and amrconv in build/release where they are missing or stale, then
# runs pytest. Its last line is "N passed, N failed, N skipped"; it fails when a test fails or
# when no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install_deps.sh
install_missing_packages python3-numpy python3-pytest python3-distributed

cmake -S . -B build/shared -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DAMRCONV_BUILD_TESTS=OFF -DAMRCONV_BUILD_BENCH=OFF -DAMRCONV_INSTALL_PROGRAM=OFF >/dev/null
cmake --build build/shared -j2 --target amrnbdec
[ -f build/release/CMakeCache.txt ] ||
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target amrconv

mkdir -p build/python
status=0
AMRNB_LIBRARY=$PWD/build/shared/amrdec/libamrnbdec.so.1 AMRCONV=$PWD/build/release/app/amrconv \
  /usr/bin/python3 -m pytest -p no:cacheprovider -q python/tests | tee build/python/pytest.log ||
  status=$?
# pytest's last line reads like "== 3 failed, 60 passed, 1 skipped in 9.81s ==" (each count
# only when nonzero); exit status 5 means that no test ran.
summary=$(tail -n 1 build/python/pytest.log)
count() { grep -oE "[0-9]+ $1" <<<"$summary" | grep -oE '[0-9]+' || echo 0; }
failed=$(($(count failed) + $(count errors?)))
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "$(count passed) passed, $failed failed, $(count skipped) skipped"
[ "$status" -eq 0 ]
