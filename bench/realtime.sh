#!/usr/bin/env bash
# How many times faster than real time the decode job converts one hour of speech, as a user
# runs it: the program on the bench stream hour_mixed.wav (180,000 frames), RUNS times, with the
# wall and CPU time of each run, the best and the median, and the machine's load around them.
#
#   bench/realtime.sh [BUILD_DIR] [RUNS]      (default build/release, 7 runs)
#
# Wall time on a shared machine varies from run to run; the best run is what the program can
# do, the median what a user saw while the machine was this busy.
set -euo pipefail
build=${1:-build/release}
runs=${2:-7}
program=$build/app/amrconv
stream=$build/bench/streams/hour_mixed.wav
for f in "$program" "$stream"; do
  [[ -e $f ]] || { echo "missing $f: build the amrconv and bench_streams targets first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Peak memory comes from GNU time where the machine has it (Debian package time).
gnu_time=$(command -v /usr/bin/time || true)
for ((i = 1; i <= runs; i++)); do
  rss=-
  if [[ -n $gnu_time ]]; then
    "$gnu_time" -f '%e %U %S %M' -o "$work/time" "$program" "$stream" "$work/out.wav" 1 >/dev/null
    read -r wall user sys rss <"$work/time"
  else
    TIMEFORMAT='%R %U %S'
    { time "$program" "$stream" "$work/out.wav" 1 >/dev/null; } 2>"$work/time"
    read -r wall user sys <"$work/time"
  fi
  echo "$wall" >>"$work/walls"
  awk -v i="$i" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" 'BEGIN {
    printf "run %d: %5.2f s wall, %5.2f s CPU, %s KiB peak memory, %5.0fx real time\n", i, w, u + s, m, 3600 / w }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
sort -n "$work/walls" | awk -v n="$runs" '
  { w[NR] = $1 }
  END { printf "best %.2f s (%.0fx real time), median %.2f s (%.0fx real time)\n",
               w[1], 3600 / w[1], w[int((n + 1) / 2)], 3600 / w[int((n + 1) / 2)] }'
