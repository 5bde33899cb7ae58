#!/usr/bin/env bash
# The speed of the build at hand, in one report:
#   - instructions per frame inside DecodeFrame, mean of the eight 1000-frame speech streams and
#     the DTX stream: callgrind for a native build; for a cross build that runs under qemu-user
#     (build/aarch64-linux-gnu from scripts/cross.sh), the guest instructions qemu executes,
#     counted by a TCG plugin (bench/qemu_insn_count.cpp);
#   - for a native build, the decode job on the hour stream (180,000 frames), RUNS times:
#     nanoseconds per frame and times real time, best and median, of wall and of CPU time,
#     with the machine's load.
# Emulated builds print instructions only: their time is the emulator's. For the browser build
# (a folder from web/build.sh, such as build/web/site) it runs bench/web_speed.mjs: the decode
# job under Node and the native program, alternated, then the same in headless Chromium.
#
#   bench/speed.sh [BUILD_DIR] [RUNS]      (default build/release, 5 runs)
#
# The streams come from the native release build (build/release, target bench_streams).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
streams=build/release/bench/streams
if [[ ! -f $streams/hour_mixed.wav ]]; then
  cmake --build build/release -j2 --target bench_streams >/dev/null
fi
if [[ -f $build/amrconv.wasm ]]; then
  # The browser build (web/build.sh): its decode job under Node against the native program, then
  # in headless Chromium where the machine has it (tests/web/run.sh installs puppeteer-core).
  node bench/web_speed.mjs "$runs" "$build"
  if [[ -x ${CHROMIUM:-/usr/bin/chromium} && -d tests/web/node_modules/puppeteer-core ]]; then
    node bench/web_speed.mjs --chromium "$runs" "$build"
  fi
  exit 0
fi
[[ -f $build/CMakeCache.txt ]] || { echo "no build in $build" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
emulator=$(cache CMAKE_CROSSCOMPILING_EMULATOR | tr ';' ' ')
# The compiler and processor as CMake found them.
compiler_file=$(ls "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$compiler_file")
processor=$(sed -n 's/^set(CMAKE_SYSTEM_PROCESSOR "\(.*\)")$/\1/p' "$(dirname "$compiler_file")/CMakeSystem.cmake")
simd=$(cache AMRCONV_SIMD)
echo "build: $build ($processor, $([[ $simd == OFF ]] && echo scalar kernels || echo intrinsic kernels)${emulator:+, run by $emulator})"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

if [[ -n $emulator ]]; then
  # The driver for the target, linked with the build's libraries as amrconv is (link-time
  # optimised); the plugin for the host.
  driver=$work/amrdec_driver
  "$cxx" -std=c++20 -O3 -flto=auto -I. bench/decode_driver.cpp "$build/amrdec/libamrnbdec.a" \
    "$build/container/libamrcontainer.a" -o "$driver"
  c++ -std=c++17 -O2 -shared -fPIC -o "$work/insn.so" bench/qemu_insn_count.cpp
  # Instructions of 1000 frames less those of one: start, loading and exit cancel out.
  count() {
    local one all
    # shellcheck disable=SC2086  # the emulator's command splits into words
    one=$($emulator -plugin "$work/insn.so" -d plugin "$driver" -n 1 "$1" 2>&1 | sed -n 's/^insns: //p')
    # shellcheck disable=SC2086
    all=$($emulator -plugin "$work/insn.so" -d plugin "$driver" -n 1000 "$1" 2>&1 | sed -n 's/^insns: //p')
    echo $(((all - one) / 999))
  }
  method="guest instructions under ${emulator%% *}"
else
  driver=$build/bench/amrdec_driver
  [[ -x $driver ]] || cmake --build "$build" -j2 --target amrdec_driver >/dev/null
  count() {
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" --toggle-collect='amrnb::DecodeFrame(*' \
      "$driver" "$1" >"$work/driver.txt" 2>/dev/null
    local frames ir
    frames=$(awk '{ n += $2 } END { print n }' "$work/driver.txt")
    ir=$(awk '/^summary:/ { print $2 }' "$work/cg.out")
    echo $((ir / frames))
  }
  method=callgrind
fi

total=0
line=""
for mode in 0 1 2 3 4 5 6 7; do
  n=$(count "$streams/mode${mode}_speech.wav")
  total=$((total + n))
  line+=" $n"
done
echo "instructions per frame ($method), modes 0-7:$line"
echo "instructions per frame: mean $((total / 8)), DTX stream $(count "$streams/dtx.wav")"

if [[ -z $emulator ]]; then
  program=$build/app/amrconv
  for ((i = 1; i <= runs; i++)); do
    TIMEFORMAT='%R %U %S'
    { time "$program" "$streams/hour_mixed.wav" "$work/out.wav" 1 >/dev/null; } 2>>"$work/times"
  done
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
  # Wall time is what a user waits; on a machine loaded beyond its cores it grows with the
  # other work, CPU time (user + system) much less.
  awk '{ print $1 }' "$work/times" | sort -n >"$work/walls"
  awk '{ print $2 + $3 }' "$work/times" | sort -n >"$work/cpus"
  report() {
    awk -v n="$runs" -v what="$1" '
      { t[NR] = $1 }
      END {
        best = t[1]; median = t[int((n + 1) / 2)]
        printf "hour job, %d runs, %s: best %.3f s (%.0f ns per frame, %.0fx real time), median %.3f s (%.0f ns per frame, %.0fx real time)\n",
               n, what, best, best * 1e9 / 180000, 3600 / best, median, median * 1e9 / 180000, 3600 / median }' "$2"
  }
  report wall "$work/walls"
  report "CPU time" "$work/cpus"
fi
