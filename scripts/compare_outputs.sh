#!/usr/bin/env bash
# scripts/compare_outputs.sh WORKDIR PROGRAM [EMULATOR...]
# Converts every conformance stream and two generated streams (mode changes, bad, no-data and
# DTX frames; random parameters) with both event types, once with the native x86-64 build
# (build/release, built here if missing) and once with PROGRAM, run through EMULATOR when one
# is given (wine64, qemu-aarch64 -L ...), and compares the outputs byte for byte. Its last line
# is "outputs: N identical to x86-64, N different"; it fails when any output differs.
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:?usage: scripts/compare_outputs.sh WORKDIR PROGRAM [EMULATOR...]}
program=${2:?usage: scripts/compare_outputs.sh WORKDIR PROGRAM [EMULATOR...]}
shift 2

native=build/release
if [ ! -x "$native/app/amrconv" ] || [ ! -x "$native/tools/amrstreamgen" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DAMRCONV_SANITIZE=OFF >/dev/null
  cmake --build "$native" -j2 --target amrconv amrstreamgen >/dev/null
fi
rm -rf "$work" && mkdir -p "$work/streams"
cp tests/data/conformance/*.wav "$work/streams/"
rm -f "$work/streams/"*.out.wav
"$native/tools/amrstreamgen" --frames 3000 --mode-change 0.05 --bad 0.03 --nodata 0.02 --dtx 0.01 \
  --seed 16 "$work/streams/generated_speech.wav" >/dev/null
"$native/tools/amrstreamgen" --gen random --frames 1000 --mode-change 0.2 --bad 0.05 --seed 16 \
  "$work/streams/generated_random.wav" >/dev/null

same=0 different=0
for stream in "$work"/streams/*.wav; do
  name=$(basename "$stream" .wav)
  for job in 1 2; do
    "$native/app/amrconv" "$stream" "$work/$name.native.$job" $job >/dev/null || true
    "$@" "$program" "$stream" "$work/$name.other.$job" $job >/dev/null </dev/null || true
    if [ -s "$work/$name.native.$job" ] && cmp -s "$work/$name.native.$job" "$work/$name.other.$job"; then
      same=$((same + 1))
    else
      different=$((different + 1))
      echo "DIFFERENT: $name, event type $job ($work/$name.other.$job)"
    fi
  done
done
echo "outputs: $same identical to x86-64, $different different"
[ "$different" -eq 0 ]
