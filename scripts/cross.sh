#!/usr/bin/env bash
# One cross build and its tests: scripts/cross.sh mingw|aarch64|s390x
#   mingw    Windows x64 (MinGW-w64, statically linked amrconv.exe), tests under Wine
#   aarch64  ARM64 Linux, tests under qemu-user
#   s390x    IBM Z Linux (big-endian), tests under qemu-user
# Builds GoogleTest for the target from Debian's sources once (build/gtest-TRIPLE), builds the
# project in build/TRIPLE, runs the test suite through the emulator, then converts every
# conformance stream and two generated streams with both jobs and compares the outputs byte
# for byte with the native x86-64 build's (scripts/compare_outputs.sh). The last
# line is "N passed, N failed, N skipped": the tests, and each compared output as one check.
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
source scripts/install_deps.sh

target=${1:?usage: scripts/cross.sh mingw|aarch64|s390x}
case $target in
  mingw) triple=mingw-w64-x86_64 ;;
  aarch64 | s390x) triple=$target-linux-gnu ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
# shellcheck disable=SC2206  # the package list splits into words
install_missing_packages "${cross_packages[@]}" ${cross_target_packages[$target]}

root=$PWD
toolchain=$root/cmake/toolchains/$triple.cmake
build=build/$triple
gtest=$root/build/gtest-$triple/install

if [ "$target" = mingw ]; then
  # Wine without a display, with its own prefix under build/, no debug chatter, no offer to
  # install Mono or Gecko (a dialog that would wait forever) and no desktop menu entries.
  export PATH=/usr/lib/wine:$PATH WINEPREFIX=$root/build/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64
  unset DISPLAY WAYLAND_DISPLAY
  wine=$(command -v wine || command -v wine64)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    timeout 300 "$wine" wineboot --init >/dev/null 2>&1
    timeout 300 wineserver -w
  fi
  # One Wine server for the whole stage instead of one per program started.
  wineserver -p 2>/dev/null || true  # already running is fine
  # The first program of a session starts Wine's services; start them now, before the test
  # discovery runs programs two at a time with a time limit.
  timeout 300 "$wine" cmd /c exit >/dev/null 2>&1 </dev/null
  trap 'wineserver -k || true' EXIT
  emulator=("$wine")
  exe_suffix=.exe
else
  emulator=("qemu-$target" -L "/usr/$triple")
fi

if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "building GoogleTest for $triple"
  cmake -S /usr/src/googletest -B "build/gtest-$triple/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "build/gtest-$triple/build" -j2 >/dev/null
  cmake --install "build/gtest-$triple/build" >/dev/null
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DGTest_DIR="$gtest/lib/cmake/GTest" -DAMRCONV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2

# The install tests build an example with the host compiler, and the table check runs the
# host's Python: both belong to the native builds.
ctest --test-dir "$build" -j2 --timeout 300 --output-on-failure -E '^(install_|tables_generated)' \
  | tee "$build/ctest.log" || true
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$build/ctest.log")
failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$build/ctest.log")
skipped=$(grep -c '(Skipped)$' "$build/ctest.log" || true)
if [ -z "$total" ]; then total=0 failed=1; fi
passed=$((total - failed - skipped))
echo "$target tests: $passed passed, $failed failed, $skipped skipped"

if [ "$target" = mingw ]; then
  # The program must run on a bare Windows: it may import only DLLs that come with the system.
  dlls=$(x86_64-w64-mingw32-objdump -p "$build/app/amrconv.exe" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')
  echo "amrconv.exe imports: $dlls"
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | api-ms-win-*) ;;
      *) echo "amrconv.exe needs $dll, which Windows does not provide"; failed=$((failed + 1)) ;;
    esac
  done
fi

# Byte-for-byte outputs against the native build.
scripts/compare_outputs.sh "$build/compare" "$build/app/amrconv${exe_suffix:-}" "${emulator[@]}" \
  | tee "$build/compare.log" || true
same=$(sed -n 's/^outputs: \([0-9]*\) identical.*/\1/p' "$build/compare.log")
different=$(sed -n 's/^outputs: .* \([0-9]*\) different$/\1/p' "$build/compare.log")
if [ -z "$same" ]; then same=0 different=1; fi
echo "$target stage: ${SECONDS} s"
echo "$((passed + same)) passed, $((failed + different)) failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$different" -eq 0 ]
