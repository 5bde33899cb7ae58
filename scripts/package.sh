#!/usr/bin/env bash
# Makes the packages with CPack into build/packages/:
#   scripts/package.sh deb      amrconv_VERSION_amd64.deb (build/package-deb: prefix /usr, shared library)
#   scripts/package.sh zip      amrconv-VERSION-win64.zip (build/package-mingw: MinGW-w64 cross build)
#   scripts/package.sh source   amrconv-VERSION.tar.gz (cpack --config CPackSourceConfig.cmake)
#   scripts/package.sh          all three
# Extra arguments after the kind go to the configure step (for example a CMAKE_CXX_FLAGS).
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
source scripts/install_deps.sh
root=$PWD
out=$root/build/packages
mkdir -p "$out"
kind=${1:-all}
shift || true

# Only what the packages hold: no tests, tools or benchmarks.
common=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DAMRCONV_BUILD_TESTS=OFF
        -DAMRCONV_BUILD_BENCH=OFF "$@")

make_deb() {
  install_missing_packages cmake g++ dpkg-dev
  cmake -S . -B build/package-deb -DCMAKE_INSTALL_PREFIX=/usr "${common[@]}" >/dev/null
  cmake --build build/package-deb -j2
  (cd build/package-deb && cpack -G DEB -B "$out")
}

make_zip() {
  install_missing_packages cmake g++-mingw-w64-x86-64 zip
  # The DLL is linked like the programs (the toolchain file links them statically): whatever
  # it takes from libgcc, libstdc++ or winpthread travels inside it, so the unpacked folder
  # needs nothing beside Windows' own DLLs (tests/packages/run.sh checks the imports).
  cmake -S . -B build/package-mingw -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
    -DCMAKE_SHARED_LINKER_FLAGS="-static -static-libgcc -static-libstdc++" "${common[@]}" >/dev/null
  cmake --build build/package-mingw -j2
  (cd build/package-mingw && cpack -G ZIP -B "$out")
}

make_source() {
  install_missing_packages cmake g++
  # The source package lists the checkout's files, so any configured build will do.
  cmake -S . -B build/package-source -DAMRCONV_BUILD_TESTS=OFF -DAMRCONV_BUILD_BENCH=OFF >/dev/null
  (cd build/package-source && cpack --config CPackSourceConfig.cmake -B "$out")
}

case $kind in
  deb) make_deb ;;
  zip) make_zip ;;
  source) make_source ;;
  all) make_deb; make_zip; make_source ;;
  *) echo "usage: scripts/package.sh [deb|zip|source|all] [CMAKE_OPTIONS...]" >&2; exit 2 ;;
esac
rm -rf "$out/_CPack_Packages"
ls -l "$out"
