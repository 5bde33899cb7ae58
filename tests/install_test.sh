#!/usr/bin/env bash
# Builds the whole project (library and program, without tests or benchmarks) in a fresh
# tree, installs it into a temporary prefix and checks what a user of the package gets:
# the examples built against the install with GCC and with clang, through find_package and
# through pkg-config, decode AMR storage files to the same samples as the installed
# amrconv's decode job. The shared part also checks the soname and that the library exports
# exactly the public interface.
#
#   install_test.sh static|shared SOURCE_DIR STREAMGEN DATA_DIR
set -euo pipefail

part=$1 source_dir=$2 streamgen=$3 data_dir=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
log() { "$@" >>"$work/log" 2>&1 || { cat "$work/log"; fail "$*"; }; }

shared=OFF
[[ $part == shared ]] && shared=ON
log cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=$shared \
  -DAMRCONV_BUILD_TESTS=OFF -DAMRCONV_BUILD_BENCH=OFF -DCMAKE_INSTALL_LIBDIR=lib
log cmake --build "$work/build" --parallel 2
log cmake --install "$work/build" --prefix "$prefix"

# The program, the package files and the headers are used below; only the public three are installed.
libdir=$prefix/lib
[[ $(ls "$prefix/include/amrdec") == $'amrnb_decoder.h\namrnb_decoder_c.h\namrnb_file.h' ]] \
  || fail "headers other than the public three installed: $(ls "$prefix/include/amrdec")"

if [[ $part == shared ]]; then
  lib=$(readlink -f "$libdir/libamrnbdec.so")
  soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ $soname == libamrnbdec.so.1 && -e $libdir/$soname ]] || fail "soname '$soname'"
  [[ ! -e $libdir/libamrnbdec.a ]] || fail "static archive installed by a shared build"
  # Exported: exactly the functions and variables the public headers mark with AMRNB_API.
  nm -DC --defined-only "$lib" | cut -d' ' -f3- | sort >"$work/exported"
  sort >"$work/public" <<'EOF'
amrnb::DecodeFrame(unsigned char*, amrnb::DecoderState*, amrnb::DecoderScratch*, short*, int)
amrnb::FrameBytes(int, int)
amrnb::ResetDecoder(int, amrnb::DecoderState*)
amrnb::kDecoderScratchSize
amrnb::kDecoderStateSize
amrnb_conceal
amrnb_convert_file
amrnb_create
amrnb_decode
amrnb_decoder_size
amrnb_destroy
amrnb_file_close
amrnb_file_get_stats
amrnb_file_kind_of
amrnb_file_open_callback
amrnb_file_open_memory
amrnb_file_open_path
amrnb_file_read_frame
amrnb_file_read_pcm
amrnb_file_wave_header
amrnb_frame_bytes
amrnb_init
amrnb_parse_wave_header
amrnb_reset
amrnb_status_name
amrnb_storage_frame_bytes
amrnb_storage_writer_close
amrnb_storage_writer_open_callback
amrnb_storage_writer_open_path
amrnb_storage_writer_write
amrnb_version
EOF
  diff "$work/public" "$work/exported" || fail "exported symbols differ from the public interface (< missing, > extra)"
fi

# The examples: GCC and clang, through find_package and through pkg-config. clang links the
# static archive without GCC's link-time-optimiser plugin: it needs the archive's machine code.
export PKG_CONFIG_PATH=$libdir/pkgconfig
pkg=(--cflags --libs)
[[ $part == static ]] && pkg+=(--static)
examples=()
for cc in gcc clang; do
  command -v "$cc" >/dev/null || fail "$cc is not installed (scripts/install_deps.sh installs it)"
  cxx=${cc/gcc/g++}; cxx=${cxx/clang/clang++}
  log cmake -S "$source_dir/examples" -B "$work/example_$cc" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
  log cmake --build "$work/example_$cc"
  # shellcheck disable=SC2046  # pkg-config output is a list of words
  log "$cc" -std=c89 -Wall -Wextra -pedantic -Werror "$source_dir/examples/decode_amr_file.c" \
    -o "$work/pc_$cc" $(pkg-config "${pkg[@]}" amrnbdec) -Wl,-rpath,"$libdir"
  # shellcheck disable=SC2046
  log "$cxx" -std=c++17 -Wall -Wextra -pedantic -Werror "$source_dir/examples/decode_amr_file.cpp" \
    -o "$work/pc_${cc}_cpp" $(pkg-config "${pkg[@]}" amrnbdec) -Wl,-rpath,"$libdir"
  examples+=("$work/example_$cc/decode_amr_file" "$work/example_$cc/decode_amr_file_cpp"
             "$work/pc_$cc" "$work/pc_${cc}_cpp")
done

# A parent project that takes the source tree in with add_subdirectory: it keeps its own
# (empty) build type, gets neither tests nor tools, and builds the program only on demand.
if [[ $part == static ]]; then
  mkdir "$work/parent"
  cat >"$work/parent/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(parent LANGUAGES C CXX)
add_subdirectory("$source_dir" amrconv)
add_executable(parent_c "$source_dir/examples/decode_amr_file.c")
add_executable(parent_cpp "$source_dir/examples/decode_amr_file.cpp")
foreach(example parent_c parent_cpp)
  target_link_libraries(\${example} PRIVATE amrnbdec::amrnbdec)
endforeach()
EOF
  log cmake -S "$work/parent" -B "$work/parent/build"
  log cmake --build "$work/parent/build" --parallel 2
  grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$work/parent/build/CMakeCache.txt" || fail "the parent's build type was set"
  [[ ! -e $work/parent/build/amrconv/tests && ! -e $work/parent/build/amrconv/tools ]] \
    || fail "tests or tools configured in a parent project"
  [[ ! -e $work/parent/build/amrconv/app/amrconv ]] || fail "the program built for a parent project"
  examples+=("$work/parent/build/parent_c" "$work/parent/build/parent_cpp")
fi

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
  for example in "${examples[@]}"; do
    "$example" "$work/$name.amr" "$work/$name.pcm" || fail "$example failed on $name"
    cmp "$work/$name.expected.pcm" "$work/$name.pcm" || fail "$example and amrconv differ on $name"
  done
  echo "$name: $(($(stat -c %s "$work/$name.pcm") / 320)) frames identical in ${#examples[@]} examples"
done
echo "PASS ($part)"
