#!/usr/bin/env bash
# The demo: builds amrconv and converts the sample recording samples/sample.wav.
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
source scripts/install_deps.sh
install_missing_packages

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DAMRCONV_SANITIZE=OFF
cmake --build build/release -j2 --target amrconv

source_file=samples/sample.wav
if [ ! -f "$source_file" ]; then
  echo "$source_file is missing" >&2
  exit 1
fi
# Event type 1: decode every frame into a 16-bit 8000 Hz mono PCM WAV file.
destination=samples/sample_decoded.wav
build/release/app/amrconv "$source_file" "$destination" 1
echo
echo "wrote $destination ($(stat -c %s "$destination") bytes): play it with any audio player"
