#!/usr/bin/env bash
# Instructions per decoded frame, counted by callgrind inside DecodeFrame only (stream loading
# and checksums excluded), for the plausible-speech and random streams of every mode and the
# DTX stream; then the routines that cost most over the eight speech streams.
#
#   bench/callgrind.sh [BUILD_DIR]      (default build/release; needs the amrdec_driver target)
set -euo pipefail
build=${1:-build/release}
driver=$build/bench/amrdec_driver
streams=$build/bench/streams
for f in "$driver" "$streams/mode0_speech.wav"; do
  [[ -e $f ]] || { echo "missing $f: build the amrdec_driver target first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# count STREAM... -> prints instructions per frame over the given streams
count() {
  local out=$work/cg.out
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='amrnb::DecodeFrame(*' \
    "$driver" "$@" >"$work/driver.txt" 2>"$work/valgrind.txt"
  local frames ir
  frames=$(awk '{ n += $2 } END { print n }' "$work/driver.txt")
  ir=$(awk '/^summary:/ { print $2 }' "$out")
  echo $((ir / frames))
}

printf '%-6s %14s %14s\n' mode speech/frame random/frame
total=0
for mode in 0 1 2 3 4 5 6 7; do
  s=$(count "$streams/mode${mode}_speech.wav")
  r=$(count "$streams/mode${mode}_random.wav")
  total=$((total + s))
  printf '%-6s %14d %14d\n' "$mode" "$s" "$r"
done
printf '%-6s %14d\n' mean $((total / 8))
printf '%-6s %14d\n' dtx "$(count "$streams/dtx.wav")"

echo
echo "Top routines over the eight speech streams (instructions, self):"
valgrind --tool=callgrind --callgrind-out-file="$work/all.out" --toggle-collect='amrnb::DecodeFrame(*' \
  "$driver" "$streams"/mode{0,1,2,3,4,5,6,7}_speech.wav >/dev/null 2>&1
callgrind_annotate --threshold=99 "$work/all.out" 2>/dev/null |
  awk '/file:function/ { on = 1; next } on && NF { sub(/ \[.*\]$/, ""); sub(/\?\?\?:/, ""); print }' | head -n "${TOP:-20}"
