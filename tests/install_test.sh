#!/usr/bin/env bash
# Installs the decoder library into a temporary prefix and checks what a user of it gets:
# the example program built against the installed package (through find_package and through
# pkg-config) decodes AMR storage files to the same samples as the installed amrconv's
# decode job.
#
#   install_test.sh static SOURCE_DIR BUILD_DIR STREAMGEN DATA_DIR SANITIZE
#     installs the already built tree BUILD_DIR (static library, the default build);
#   install_test.sh shared SOURCE_DIR BUILD_DIR STREAMGEN DATA_DIR SANITIZE
#     configures and builds a shared library in a fresh tree, checks its soname and its
#     exported symbols, and repeats the checks. Exit code 77 (skip) in a sanitizer build.
set -euo pipefail

part=$1 source_dir=$2 build_dir=$3 streamgen=$4 data_dir=$5 sanitize=$6

if [[ $part == shared && $sanitize == ON ]]; then
  echo "SKIP: the shared-library check builds its own release tree; the release run covers it"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

sanitize_flags=()
if [[ $sanitize == ON ]]; then sanitize_flags=(-fsanitize=address,undefined); fi

if [[ $part == shared ]]; then
  cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DAMRCONV_BUILD_TESTS=OFF >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/build" --target amrconv --parallel 4 >"$work/build.log" \
    || { cat "$work/build.log"; exit 1; }
  build_dir=$work/build
fi
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# What a user of the package finds.
pc_file=$(find "$prefix" -name amrnbdec.pc)
[[ -n $pc_file ]] || fail "amrnbdec.pc not installed"
libdir=$(dirname "$(dirname "$pc_file")")
for f in bin/amrconv include/amrdec/amrnb_decoder.h include/amrdec/amrnb_decoder_c.h; do
  [[ -f $prefix/$f ]] || fail "$f not installed"
done
[[ -f $libdir/cmake/amrnbdec/amrnbdecConfig.cmake ]] || fail "CMake package not installed"
# The public headers stand alone: each compiles with nothing but the installed include dir.
cc=${CC:-cc}
echo '#include <amrdec/amrnb_decoder_c.h>' | "$cc" -x c -std=c99 -Wall -Wextra -pedantic -Werror \
  -fsyntax-only -I"$prefix/include" - || fail "the C header does not compile alone as C"
echo '#include <amrdec/amrnb_decoder.h>' | "${CXX:-c++}" -x c++ -std=c++17 -Wall -Wextra -Werror \
  -fsyntax-only -I"$prefix/include" - || fail "the C++ header does not compile alone"

if [[ $part == shared ]]; then
  lib=$(readlink -f "$libdir/libamrnbdec.so")
  [[ $(basename "$lib") == libamrnbdec.so.*.*.* ]] || fail "libamrnbdec.so is not a versioned file: $lib"
  soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ -e $libdir/$soname && $soname == libamrnbdec.so.[0-9]* ]] || fail "soname '$soname'"
  [[ ! -e $libdir/libamrnbdec.a ]] || fail "static archive installed by a shared build"
  # Only the public interface is exported: four C functions, the two C++ functions and the
  # two block sizes.
  exported=$(nm -DC --defined-only "$lib" | cut -d' ' -f3-)
  for name in amrnb_state_size amrnb_scratch_size amrnb_reset amrnb_decode_frame \
              amrnb::ResetDecoder amrnb::DecodeFrame amrnb::kDecoderStateSize \
              amrnb::kDecoderScratchSize; do
    grep -q "^$name\b" <<<"$exported" || fail "$name not exported"
  done
  [[ $(wc -l <<<"$exported") -eq 10 ]] || fail "internal symbols exported:"$'\n'"$exported"
fi

# The example through find_package(amrnbdec) and through pkg-config.
cmake -S "$source_dir/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="${sanitize_flags[*]}" \
      -DCMAKE_EXE_LINKER_FLAGS="${sanitize_flags[*]}" >"$work/example.log" \
  || { cat "$work/example.log"; exit 1; }
cmake --build "$work/example" >>"$work/example.log" || { cat "$work/example.log"; exit 1; }
pkg_flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs --static amrnbdec)
# shellcheck disable=SC2086  # pkg-config output is a list of words
"$cc" -std=c99 -Wall -Wextra -Werror "${sanitize_flags[@]}" "$source_dir/examples/decode_amr_file.c" \
  -o "$work/example_pc" $pkg_flags -Wl,-rpath,"$libdir"

# Inputs: a stream from the project's stream writer (mode changes, bad frames, no data, DTX)
# and two reference streams (invalid frame types and SID errors; decoder homing frames).
"$streamgen" --gen speech --frames 250 --mode-change 0.1 --bad 0.05 --nodata 0.05 --dtx 0.03 \
  --seed 11 "$work/generated.wav" >/dev/null
cp "$data_dir/conformance/mixed.wav" "$data_dir/conformance/homing.wav" "$work/"

for wav in "$work"/generated.wav "$work"/mixed.wav "$work"/homing.wav; do
  name=$(basename "$wav" .wav)
  { printf '#!AMR\n'; tail -c +63 "$wav"; } >"$work/$name.amr"
  "$prefix/bin/amrconv" "$wav" "$work/$name.out.wav" 1 >/dev/null || fail "amrconv failed on $name"
  tail -c +63 "$work/$name.out.wav" >"$work/$name.expected.pcm"
  [[ -s $work/$name.expected.pcm ]] || fail "amrconv wrote no samples for $name"
  for example in "$work/example/decode_amr_file" "$work/example_pc"; do
    "$example" "$work/$name.amr" "$work/$name.pcm" || fail "$(basename "$example") failed on $name"
    cmp "$work/$name.expected.pcm" "$work/$name.pcm" \
      || fail "$(basename "$example") and amrconv differ on $name"
  done
  echo "$name: $(($(stat -c %s "$work/$name.pcm") / 320)) frames identical"
done
echo "PASS ($part)"
