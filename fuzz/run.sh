#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, replays the seed and regression corpus through
# each, then fuzzes each target for SECONDS (default 20). New corpus entries and any crashing
# input go to the build directory; copy a crashing input into fuzz/regressions/TARGET/ once
# the fault is fixed.
# usage: fuzz/run.sh [SECONDS]     build directory: $AMRCONV_FUZZ_BUILD_DIR or build/fuzz
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${AMRCONV_FUZZ_BUILD_DIR:-build/fuzz}
targets=(decode_frames unpack jobs file_reader)

source scripts/install_deps.sh
install_missing_packages "${fuzz_packages[@]}"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAMRCONV_FUZZ=ON -DAMRCONV_SANITIZE=OFF -DAMRCONV_BUILD_TESTS=OFF -DAMRCONV_BUILD_BENCH=OFF
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

for target in "${targets[@]}"; do
  bin=$build/fuzz/fuzz_$target
  echo "== $target: seed and regression corpus"
  shopt -s nullglob
  inputs=(fuzz/corpus/"$target"/* fuzz/regressions/"$target"/*)
  shopt -u nullglob
  if ! "$bin" -timeout=10 "${inputs[@]}" >"$build/replay_$target.log" 2>&1; then
    cat "$build/replay_$target.log"
    echo "$target: a corpus input fails" >&2
    exit 1
  fi

  echo "== $target: fuzzing for ${seconds}s"
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
  "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target/" "$build/corpus/$target" "fuzz/corpus/$target"
done
echo "fuzzing finished without findings"
