#!/usr/bin/env bash
# Files per second of amrconv-batch with --jobs 2 against --jobs 1, on a tree of one-minute
# recordings (mixed modes, bad and no-data frames, DTX, from amrstreamgen), runs alternated,
# with wall and CPU time and the machine's load around them.
#
#   bench/batch_throughput.sh [BUILD_DIR] [FILES] [RUNS]   (default build/release, 200 files, 3 runs)
#
# On a machine shared with other work the wall times measure that work too: the best run of
# each is what the program can do, and the CPU times show whether the threads wait on anything.
set -euo pipefail
build=${1:-build/release}
files=${2:-200}
runs=${3:-3}
batch=$build/batch/amrconv-batch gen=$build/tools/amrstreamgen
for f in "$batch" "$gen"; do
  [[ -x $f ]] || { echo "missing $f: build the amrconv-batch and amrstreamgen targets first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/tree/{0..9}
for ((i = 1; i <= files; i++)); do
  "$gen" --seconds 60 --mode-change 0.01 --bad 0.01 --nodata 0.01 --dtx 0.02 --seed "$i" \
    "$work/tree/$((i % 10))/rec$i.wav" >/dev/null
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "tree: $files one-minute recordings, $(du -sh "$work/tree" | cut -f1)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= runs; r++)); do
  for jobs in 1 2; do
    rm -rf "$work/out"
    TIMEFORMAT='%R %U %S'
    { time "$batch" "$work/tree" "$work/out" --jobs "$jobs" --quiet; } 2>"$work/time"
    read -r wall user sys <"$work/time"
    echo "$jobs $wall" >>"$work/walls"
    awk -v j="$jobs" -v w="$wall" -v u="$user" -v s="$sys" -v n="$files" 'BEGIN {
      printf "--jobs %d: %6.2f s wall, %6.2f s CPU, %6.1f files/s\n", j, w, u + s, n / w }'
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v n="$files" '{ if (!($1 in best) || $2 < best[$1]) best[$1] = $2 } END {
  printf "best: --jobs 1 %.1f files/s, --jobs 2 %.1f files/s: %.2fx\n", n / best[1], n / best[2], best[1] / best[2] }' \
  "$work/walls"
