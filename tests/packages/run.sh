#!/usr/bin/env bash
# The packages, built by scripts/package.sh and tried as a user would:
#   tests/packages/run.sh [deb] [zip] [source]     (default: all three)
# deb: installed with apt-get (as root; otherwise unpacked with dpkg-deb), amrconv and
#      amrconv-batch run from their installed paths, man pages, pkg-config and the CMake
#      package found, then removed with nothing left behind;
# zip: unpacked, its programs run under Wine straight from the folder, outputs byte for byte
#      against the native build's, no DLL needed beyond Windows' own;
# source: unpacked, configured, built, and its quick tests run.
# Ends with "N passed, N failed".
set -uo pipefail
exec </dev/null
cd "$(dirname "$0")/../.."
source scripts/install_deps.sh
install_missing_packages cmake g++ dpkg-dev zip unzip man-db pkg-config g++-mingw-w64-x86-64 wine64
root=$PWD
kinds=("$@")
((${#kinds[@]})) || kinds=(deb zip source)
work=$root/build/package-test
rm -rf "$work" && mkdir -p "$work"
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
version=$(sed -n 's/^#define AMRNB_VERSION_STRING "\(.*\)"$/\1/p' amrdec/amrnb_decoder_c.h)
stream=tests/data/conformance/dtx.wav expected=tests/data/conformance/dtx.out.wav

# The native programs make the reference outputs of a small tree with a UTF-8 name.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target amrconv amrstreamgen >/dev/null
mkdir -p "$work/tree/sous-dossier" "$work/ref/sous-dossier"
for name in a "sous-dossier/é è"; do
  build/release/tools/amrstreamgen --frames 300 --mode-change 0.1 --bad 0.02 --dtx 0.02 \
    --seed 7 "$work/tree/$name.wav" >/dev/null
  build/release/app/amrconv "$work/tree/$name.wav" "$work/ref/$name.wav" 1 >/dev/null
done
# Path limits differ: 120 letters é are 240 bytes, over the limit on Linux, but 120 UTF-16
# characters, within it on Windows; 230 letters x are over both.
mkdir -p "$work/tree/long"
accented=$(printf 'é%.0s' $(seq 1 120)).wav ascii=$(printf 'x%.0s' $(seq 1 230)).wav
cp "$work/tree/a.wav" "$work/tree/long/$accented" && cp "$work/tree/a.wav" "$work/tree/long/$ascii"
# same_tree DIR: DIR holds exactly the reference outputs (the long paths aside).
same_tree() { diff -r -x long "$work/ref" "$1" >/dev/null; }
# reported REPORT NAME: the status column of NAME's line in a CSV report.
reported() { grep -F "$2," "$1" | cut -d, -f2; }

if [[ " ${kinds[*]} " == *" deb "* ]]; then
  echo "== deb"
  scripts/package.sh deb >"$work/deb-build.log" 2>&1 || tail -20 "$work/deb-build.log"
  deb=$(ls build/packages/amrconv_"$version"_*.deb 2>/dev/null | head -n 1)
  check "Debian package built" test -n "$deb"
  contents=$(dpkg-deb -c "$deb" 2>/dev/null | awk '{print $6}')
  for f in usr/bin/amrconv usr/bin/amrconv-batch "usr/lib/*/libamrnbdec.so.1" usr/include/amrdec/amrnb_decoder_c.h \
           "usr/lib/*/pkgconfig/amrnbdec.pc" "usr/lib/*/cmake/amrnbdec/amrnbdecConfig.cmake" \
           usr/share/man/man1/amrconv.1 usr/share/man/man1/amrconv-batch.1 \
           usr/share/doc/amrconv/README.md usr/share/doc/amrconv/LICENSE; do
    # shellcheck disable=SC2053  # the pattern matches
    check "package holds $f" grep -q "^\./${f//\*/[^/]*}$" <<<"$contents"
  done
  if [ "$(id -u)" = 0 ] && ! dpkg-query -W -f='${Status}' amrconv 2>/dev/null | grep -q installed; then
    # Installed into this machine and removed again, as a user does (not over an amrconv that
    # someone installed before: that one is left alone and the package unpacked instead).
    apt-get -o DPkg::Lock::Timeout=600 install -y "./$deb" >"$work/apt.log" 2>&1
    check "apt-get install ./$(basename "$deb")" test $? = 0
    prefix=/usr
  else
    dpkg-deb -x "$deb" "$work/unpacked"
    prefix=$work/unpacked/usr
  fi
  "$prefix/bin/amrconv" "$stream" "$work/installed.wav" 1 >/dev/null
  check "installed amrconv decodes a stream byte for byte" cmp -s "$expected" "$work/installed.wav"
  "$prefix/bin/amrconv-batch" "$work/tree" "$work/deb_out" --quiet --report "$work/deb.csv" 2>"$work/deb_batch.log"
  check "installed amrconv-batch converts a tree" same_tree "$work/deb_out"
  check "paths over 259 bytes refused on Linux" \
    test "$(reported "$work/deb.csv" "$accented")$(reported "$work/deb.csv" "$ascii")" = 11
  if [ "$prefix" = /usr ]; then
    check "man amrconv finds the installed page" test "$(man -w amrconv-batch)" = /usr/share/man/man1/amrconv-batch.1
    check "man page renders" sh -c 'man amrconv 2>/dev/null | grep -q "EXIT STATUS"'
    check "pkg-config --modversion amrnbdec" test "$(pkg-config --modversion amrnbdec)" = "$version"
    # A user's program against the installed library: through pkg-config, and through the
    # CMake package; both decode the stream's frames to amrconv's samples.
    { printf '#!AMR\n'; tail -c +63 "$stream"; } >"$work/dtx.amr"
    tail -c +63 "$expected" >"$work/dtx.pcm"
    # shellcheck disable=SC2046  # pkg-config gives a list of words
    gcc examples/decode_amr_file.c -o "$work/pc_example" $(pkg-config --cflags --libs amrnbdec) &&
      "$work/pc_example" "$work/dtx.amr" "$work/pc.pcm" >/dev/null
    check "C program built with pkg-config decodes as amrconv" cmp -s "$work/dtx.pcm" "$work/pc.pcm"
    cmake -S examples -B "$work/cmake_example" >/dev/null && cmake --build "$work/cmake_example" >/dev/null &&
      "$work/cmake_example/decode_amr_file_cpp" "$work/dtx.amr" "$work/cm.pcm" >/dev/null
    check "program built with find_package(amrnbdec) decodes as amrconv" cmp -s "$work/dtx.pcm" "$work/cm.pcm"
    apt-get -o DPkg::Lock::Timeout=600 remove -y --purge amrconv >>"$work/apt.log" 2>&1
    left=$(for f in $contents; do [ -f "/${f#./}" ] || [ -L "/${f#./}" ] && echo "/${f#./}"; done)
    check "removed without a file left (${left:-none})" test -z "$left"
  fi
fi

if [[ " ${kinds[*]} " == *" zip "* ]]; then
  echo "== zip"
  scripts/package.sh zip >"$work/zip-build.log" 2>&1 || tail -20 "$work/zip-build.log"
  zip=build/packages/amrconv-$version-win64.zip
  check "Windows zip built" test -f "$zip"
  unzip -q "$zip" -d "$work/zip"
  top=$work/zip/amrconv-$version-win64
  for f in bin/amrconv.exe bin/amrconv-batch.exe bin/libamrnbdec.dll lib/libamrnbdec.dll.a \
           include/amrdec/amrnb_decoder_c.h README.md LICENSE; do
    check "zip holds $f" test -f "$top/$f"
  done
  for f in "$top"/bin/*.exe "$top"/bin/*.dll; do
    imports=$(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' |
              grep -vxE 'kernel32.dll|msvcrt.dll|shell32.dll|user32.dll|advapi32.dll|libamrnbdec.dll|api-ms-win-.*')
    check "$(basename "$f") needs no DLL beyond Windows' and the library's (${imports:-none})" test -z "$imports"
  done
  export PATH=/usr/lib/wine:$PATH WINEPREFIX=$root/build/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64
  unset DISPLAY WAYLAND_DISPLAY
  wine=$(command -v wine || command -v wine64)
  [ -f "$WINEPREFIX/system.reg" ] || timeout 300 "$wine" wineboot --init >/dev/null 2>&1
  # Run from the unpacked folder, as a user who double-clicked into it would.
  (cd "$top/bin" && timeout 300 "$wine" ./amrconv.exe "$root/$stream" "$work/wine.wav" 1 >/dev/null 2>&1)
  check "amrconv.exe under Wine decodes a stream byte for byte" cmp -s "$expected" "$work/wine.wav"
  (cd "$top/bin" && timeout 300 "$wine" ./amrconv-batch.exe "$work/tree" "$work/wine_out" --jobs 2 \
     --report "$work/wine.csv" >"$work/wine_batch.log" 2>&1)
  check "amrconv-batch.exe under Wine converts a tree with a UTF-8 name" same_tree "$work/wine_out"
  check "Windows counts UTF-16 characters: 120 letters é converted" \
    cmp -s "$work/ref/a.wav" "$work/wine_out/long/$accented"
  check "Windows refuses a path over 259 characters" test "$(reported "$work/wine.csv" "$ascii")" = 1
  timeout 60 wineserver -k 2>/dev/null || true
fi

if [[ " ${kinds[*]} " == *" source "* ]]; then
  echo "== source"
  scripts/package.sh source >"$work/source-build.log" 2>&1 || tail -20 "$work/source-build.log"
  tarball=build/packages/amrconv-$version.tar.gz
  check "source tarball made" test -f "$tarball"
  tar xzf "$tarball" -C "$work"
  check "tarball holds no build output or git data" \
    test -z "$(tar tzf "$tarball" | grep -E '/build/|/\.git(/|$)')"
  (cd "$work/amrconv-$version" && scripts/test.sh --quick >"$work/source-test.log" 2>&1)
  check "unpacked source passes its quick tests ($(tail -n 1 "$work/source-test.log"))" \
    grep -qE '^tests: [1-9][0-9]* passed, 0 failed' "$work/source-test.log"
  # What failed, for the log (the work folder goes with the run).
  grep -E -A25 '\*\*\*(Failed|Timeout|Exception)' "$work/source-test.log" | head -n 80 || true
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
