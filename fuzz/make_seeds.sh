#!/usr/bin/env bash
# Rebuilds the committed seed corpus in fuzz/corpus/ with the stream writer.
# usage: fuzz/make_seeds.sh PATH/TO/amrstreamgen
set -euo pipefail
gen=$1
cd "$(dirname "$0")"
rm -rf corpus && mkdir -p corpus/jobs corpus/decode_frames corpus/unpack corpus/file_reader
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Whole source files for the jobs: generated speech with every kind of event, and a text
# stream with homing frames, SID frames, invalid and no-data frames and a cut-short frame.
"$gen" --frames 24 --mode-change 0.3 --bad 0.1 --nodata 0.1 --dtx 0.1 --seed 3 corpus/jobs/mixed.wav
"$gen" --frames 12 --gen random --mode 4 --seed 5 corpus/jobs/random_mr74.wav
"$gen" --text - corpus/jobs/events.wav <<'TEXT'
homing 7
homing 7
speech 3 12 40 7 1 1 2 3
sid first 3 1 2 3 4 5
nodata
sid update 3 5 4 3 2 1
invalid 12
speech 0 q0 1 2 3 4 5
homing 0
raw 3c01
TEXT

# Frame sequences for the decoder: a layout byte (0 storage, 1 IF2) and the frames of a file.
for f in mixed events; do
  for layout in 0 1; do
    { printf "\\x0$layout"; tail -c +63 "corpus/jobs/$f.wav"; } > "corpus/decode_frames/${f}_$layout"
  done
done

# Files for the file reader: two seed bytes (block and chunk sizes), then an AMR-in-WAV source
# or the "#!AMR\n" file of its frames.
for f in mixed events; do
  { printf '\x03\x07'; cat "corpus/jobs/$f.wav"; } > "corpus/file_reader/${f}_wav"
  { printf '\x09\x01#!AMR\n'; tail -c +63 "corpus/jobs/$f.wav"; } > "corpus/file_reader/${f}_amr"
done

# Single frames for the unpackers: one of each frame type with a payload, storage layout.
"$gen" --frames 40 --mode-change 1 --dtx 0.2 --seed 9 "$tmp/one.wav"
tail -c +63 "$tmp/one.wav" > "$tmp/frames"
sizes=(13 14 16 18 20 21 27 32 6 32 1 1 1 1 1 1)
pos=0 total=$(stat -c %s "$tmp/frames")
while ((pos < total)); do
  head_byte=$(od -An -tu1 -j "$pos" -N1 "$tmp/frames" | tr -d ' ')
  type=$(((head_byte >> 3) & 15))
  n=${sizes[$type]}
  if [ ! -e "corpus/unpack/type$type" ]; then
    { printf '\x00'; tail -c +$((pos + 1)) "$tmp/frames" | head -c "$n"; } > "corpus/unpack/type$type"
  fi
  pos=$((pos + n))
done
ls corpus/*
