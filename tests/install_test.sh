#!/usr/bin/env bash
# Install tests, in steps that CTest runs as fixtures (tests/install_test.cmake):
#
#   install_test.sh build static|shared SOURCE_DIR WORK_DIR
#     builds the whole project (library and program, without tests or benchmarks) in a fresh
#     release tree, WORK_DIR/build-static or WORK_DIR/build-shared;
#   install_test.sh check SOURCE_DIR WORK_DIR STREAMGEN DATA_DIR
#     installs both trees into one prefix, side by side, and checks what a user of the package
#     gets: the files (headers with their licence line, LICENSE, both libraries, normalised
#     pkg-config paths), the shared library's soname and exported symbols, and the examples
#     built against each library with GCC and with clang, through find_package and through
#     pkg-config, plus a C++11 program of the C header and a parent project that takes the
#     source tree in with add_subdirectory. Every example must write amrconv's samples.
set -euo pipefail

step=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
log() { "$@" >>"$logfile" 2>&1 || { cat "$logfile"; fail "$*"; }; }

if [[ $step == build ]]; then
  kind=$2 source_dir=$3 work=$4
  shared=OFF
  [[ $kind == shared ]] && shared=ON
  rm -rf "$work/build-$kind"
  mkdir -p "$work"
  logfile=$work/log-$kind
  : >"$logfile"
  log cmake -S "$source_dir" -B "$work/build-$kind" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=$shared \
    -DAMRCONV_BUILD_TESTS=OFF -DAMRCONV_BUILD_BENCH=OFF -DCMAKE_INSTALL_LIBDIR=lib
  log cmake --build "$work/build-$kind" --parallel 2
  echo "PASS (build $kind)"
  exit 0
fi

source_dir=$2 base=$3 streamgen=$4 data_dir=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logfile=$work/log
prefix=$work/prefix
libdir=$prefix/lib

# Static, shared, then static again, into a prefix spelled with "./" and "//": each install
# keeps the other's files, and the result does not depend on the order.
for kind in static shared static; do
  log cmake --install "$base/build-$kind" --prefix "$work/./prefix//"
done
headers=(amrnb_decoder.h amrnb_decoder_c.h amrnb_file.h)
[[ $(ls "$prefix/include/amrdec") == "$(printf '%s\n' "${headers[@]}")" ]] \
  || fail "headers other than the public ones installed: $(ls "$prefix/include/amrdec")"
for header in "${headers[@]}"; do
  head -n 1 "$prefix/include/amrdec/$header" | grep -qE '^(/\*|//) SPDX-License-Identifier: Apache-2\.0( \*/)?$' \
    || fail "$header does not begin with its SPDX licence line"
done
cmp "$source_dir/LICENSE" "$prefix/share/doc/amrnbdec/LICENSE" || fail "LICENSE not installed"
for file in lib/libamrnbdec.a lib/libamrnbdec.so.1 lib/cmake/amrnbdec/amrnbdec-static-targets.cmake \
            lib/cmake/amrnbdec/amrnbdec-shared-targets.cmake lib/pkgconfig/amrnbdec-static.pc; do
  [[ -e $prefix/$file ]] || fail "$file missing from the side-by-side install"
done

# pkg-config: amrnbdec.pc names the shared library, amrnbdec-static.pc the archive by its
# path; the paths are the prefix's own, normalised.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags() { echo $(pkg-config --cflags --libs "$1"); }  # the words, single-spaced
[[ $(flags amrnbdec) == "-I$prefix/include -L$libdir -lamrnbdec" ]] || fail "amrnbdec.pc: $(flags amrnbdec)"
[[ $(flags amrnbdec-static) == "-I$prefix/include -DAMRNB_STATIC $libdir/libamrnbdec.a" ]] \
  || fail "amrnbdec-static.pc: $(flags amrnbdec-static)"
for pc in amrnbdec amrnbdec-static; do
  [[ $(pkg-config --variable=libdir $pc) == "$libdir" ]] || fail "$pc: libdir $(pkg-config --variable=libdir $pc)"
done
! grep -E '//|/\./|/\.\./' "$libdir"/pkgconfig/*.pc || fail "pkg-config paths not normalised"

# The shared library: soname, and exactly the functions and variables that the public headers
# mark with AMRNB_API.
lib=$(readlink -f "$libdir/libamrnbdec.so")
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == libamrnbdec.so.1 ]] || fail "soname '$soname'"
nm -DC --defined-only "$lib" | cut -d' ' -f3- | sort >"$work/exported"
sort >"$work/public" <<'EOF'
amrnb::DecodeFrame(unsigned char*, amrnb::DecoderState*, amrnb::DecoderScratch*, short*, int)
amrnb::FrameBytes(int, int)
amrnb::ResetDecoder(int, amrnb::DecoderState*)
amrnb::kDecoderScratchSize
amrnb::kDecoderStateSize
amrnb_conceal
amrnb_convert_file
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
amrnb_parse_wave_header
amrnb_storage_writer_close
amrnb_storage_writer_open_callback
amrnb_storage_writer_open_path
amrnb_storage_writer_write
amrnb_create
amrnb_decode
amrnb_decoder_size
amrnb_destroy
amrnb_init
amrnb_reset
amrnb_status_name
amrnb_storage_frame_bytes
amrnb_version
EOF
diff "$work/public" "$work/exported" || fail "exported symbols differ from the public interface (< missing, > extra)"

# The examples against each library: GCC and clang, through find_package (AMRNBDEC_SHARED=OFF
# picks the static library, the package's default the shared one) and through pkg-config.
# clang links the static archive without GCC's link-time-optimiser plugin: it needs the
# archive's machine code. Each program is listed with the library it must have linked; the C
# examples build as C89.
programs=()  # entries "KIND PATH"
for kind in static shared; do
  pc=amrnbdec
  pick=()
  [[ $kind == static ]] && { pc=amrnbdec-static; pick=(-DAMRNBDEC_SHARED=OFF); }
  for cc in gcc clang; do
    command -v "$cc" >/dev/null || fail "$cc is not installed (scripts/install_deps.sh installs it)"
    cxx=${cc/gcc/g++}; cxx=${cxx/clang/clang++}
    out=$work/example_${kind}_$cc
    log cmake -S "$source_dir/examples" -B "$out" -DCMAKE_PREFIX_PATH="$prefix" "${pick[@]}" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
    log cmake --build "$out"
    for example in amrnb_decode_file amrnb_decode_if2 decode_amr_file decode_amr_file_cpp; do
      programs+=("$kind $out/$example")
    done
    for example in amrnb_decode_file amrnb_decode_if2 decode_amr_file; do
      # shellcheck disable=SC2046  # pkg-config output is a list of words
      log "$cc" -std=c89 -Wall -Wextra -pedantic -Werror "$source_dir/examples/$example.c" \
        -o "$out/pc_$example" $(pkg-config --cflags --libs $pc) -Wl,-rpath,"$libdir"
      programs+=("$kind $out/pc_$example")
    done
    # shellcheck disable=SC2046
    log "$cxx" -std=c++17 -Wall -Wextra -pedantic -Werror "$source_dir/examples/decode_amr_file.cpp" \
      -o "$out/pc_decode_amr_file_cpp" $(pkg-config --cflags --libs $pc) -Wl,-rpath,"$libdir"
    programs+=("$kind $out/pc_decode_amr_file_cpp")
  done

  # A C++11 project that includes only the C headers keeps its language level: the package
  # must not raise it (a check that fails to compile otherwise), and the file example builds
  # as C++11.
  mkdir -p "$work/cxx11_$kind"
  cp "$source_dir/examples/amrnb_decode_file.c" "$work/cxx11_$kind/amrnb_decode_file.cpp"
  echo 'static_assert(__cplusplus == 201103L, "a C++11 user of the C headers stays at C++11");' \
    >"$work/cxx11_$kind/level.cpp"
  cat >"$work/cxx11_$kind/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(cxx11 LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 11)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
find_package(amrnbdec 1 REQUIRED COMPONENTS $kind)
add_executable(amrnb_decode_file amrnb_decode_file.cpp level.cpp)
target_compile_options(amrnb_decode_file PRIVATE -Wall -Wextra -pedantic -Werror)
target_link_libraries(amrnb_decode_file PRIVATE amrnbdec::amrnbdec)
EOF
  log cmake -S "$work/cxx11_$kind" -B "$work/cxx11_$kind/build" -DCMAKE_PREFIX_PATH="$prefix"
  log cmake --build "$work/cxx11_$kind/build"
  programs+=("$kind $work/cxx11_$kind/build/amrnb_decode_file")
done

# A parent project that takes the source tree in with add_subdirectory: it keeps its own
# (empty) build type, gets neither tests nor tools, and builds the program only on demand.
mkdir "$work/parent"
cat >"$work/parent/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(parent LANGUAGES C CXX)
add_subdirectory("$source_dir" amrconv)
add_executable(parent_c "$source_dir/examples/decode_amr_file.c")
target_link_libraries(parent_c PRIVATE amrnbdec::amrnbdec)
add_executable(parent_cpp "$source_dir/examples/decode_amr_file.cpp")
target_link_libraries(parent_cpp PRIVATE amrnbdec::cxx)
EOF
log cmake -S "$work/parent" -B "$work/parent/build"
log cmake --build "$work/parent/build" --parallel 2
grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$work/parent/build/CMakeCache.txt" || fail "the parent's build type was set"
[[ ! -e $work/parent/build/amrconv/tests && ! -e $work/parent/build/amrconv/tools ]] \
  || fail "tests or tools configured in a parent project"
[[ ! -e $work/parent/build/amrconv/app/amrconv ]] || fail "the program built for a parent project"
programs+=("static $work/parent/build/parent_c" "static $work/parent/build/parent_cpp")

# Each program linked the library it asked for.
for entry in "${programs[@]}"; do
  kind=${entry%% *} program=${entry#* }
  needed=$(readelf -d "$program" | grep -c 'NEEDED.*libamrnbdec\.so\.1' || true)
  [[ $kind == shared && $needed == 1 || $kind == static && $needed == 0 ]] \
    || fail "$program: linked libamrnbdec.so.1 $needed times, expected the $kind library"
done

# Inputs: a stream from the project's stream writer (mode changes, bad frames, no data, DTX)
# and two reference streams (invalid frame types and SID errors; decoder homing frames), as
# AMR-in-WAV files and as the "#!AMR\n" files amrconv's header job makes of them. A storage
# example reads the latter, the file example both.
"$streamgen" --gen speech --frames 250 --mode-change 0.1 --bad 0.05 --nodata 0.05 --dtx 0.03 \
  --seed 11 "$work/generated.wav" >/dev/null
cp "$data_dir/conformance/mixed.wav" "$data_dir/conformance/homing.wav" "$work/"
for wav in "$work"/generated.wav "$work"/mixed.wav "$work"/homing.wav; do
  name=$(basename "$wav" .wav)
  "$prefix/bin/amrconv" "$wav" "$work/$name.amr" 2 >/dev/null || fail "amrconv's header job failed on $name"
  "$prefix/bin/amrconv" "$wav" "$work/$name.out.wav" 1 >/dev/null || fail "amrconv failed on $name"
  tail -c +63 "$work/$name.out.wav" >"$work/$name.expected.pcm"
  [[ -s $work/$name.expected.pcm ]] || fail "amrconv wrote no samples for $name"
  count=0
  for entry in "${programs[@]}"; do
    program=${entry#* }
    case $program in
      *amrnb_decode_if2) continue ;;
      *amrnb_decode_file) inputs=("$wav" "$work/$name.amr") ;;
      *) inputs=("$work/$name.amr") ;;
    esac
    for input in "${inputs[@]}"; do
      "$program" "$input" "$work/$name.pcm" || fail "$program failed on $input"
      cmp "$work/$name.expected.pcm" "$work/$name.pcm" || fail "$program and amrconv differ on $input"
      count=$((count + 1))
    done
  done
  echo "$name: $(($(stat -c %s "$work/$name.pcm") / 320)) frames identical in $count runs"
done

# The file example on a damaged source: exit status 1 and the status's name.
cp "$work/mixed.wav" "$work/tag311.wav"
printf '\067' | dd of="$work/tag311.wav" bs=1 seek=20 conv=notrunc status=none  # tag 310 -> 311
for entry in "${programs[@]}"; do
  program=${entry#* }
  [[ $program == *amrnb_decode_file ]] || continue
  if "$program" "$work/tag311.wav" "$work/tag311.pcm" 2>"$work/stderr"; then fail "$program accepted tag 311"; fi
  grep -q AMRNB_ERROR_FORMAT_TAG "$work/stderr" || fail "$program: $(cat "$work/stderr")"
done

# The IF2 example: a stream with damaged frames (IF2 has no quality bit, so its samples are
# the reference's own), and the 12.2 kbit/s stream with every 7th frame lost, against amrconv
# decoding the storage frames with each lost one replaced by a lost-frame byte (frame type 15,
# quality bit 0), a frame it conceals the same way.
mode7=$data_dir/conformance/mode7.wav
frames=$((($(stat -c %s "$mode7") - 62) / 32))
{
  head -c 62 "$mode7"
  for ((i = 0; i < frames; i++)); do
    if (((i + 1) % 7 == 0)); then printf '\170'
    else dd if="$mode7" iflag=skip_bytes,count_bytes skip=$((62 + 32 * i)) count=32 status=none; fi
  done
} >"$work/mode7_lost.wav"
"$prefix/bin/amrconv" "$work/mode7_lost.wav" "$work/mode7_lost.out.wav" 1 >/dev/null || fail "amrconv on mode7_lost"
tail -c +63 "$work/mode7_lost.out.wav" >"$work/mode7_lost.expected.pcm"
count=0
for entry in "${programs[@]}"; do
  program=${entry#* }
  [[ $program == *amrnb_decode_if2 ]] || continue
  "$program" "$data_dir/conformance/if2/mixed.if2" "$work/mixed_if2.pcm" || fail "$program failed on mixed.if2"
  cmp "$data_dir/conformance/if2/mixed.pcm" "$work/mixed_if2.pcm" || fail "$program differs on mixed.if2"
  "$program" "$data_dir/conformance/if2/mode7.if2" "$work/mode7_lost.pcm" 7 || fail "$program failed on mode7.if2"
  cmp "$work/mode7_lost.expected.pcm" "$work/mode7_lost.pcm" || fail "$program's concealment differs from amrconv's"
  count=$((count + 2))
done
echo "IF2: $frames frames, every 7th lost, identical in $count runs"
echo "PASS (${#programs[@]} programs)"
