#!/usr/bin/env bash
# Installs the build and test packages that are missing (Debian 12). Sourced by the
# tools scripts; installs nothing when everything is present. With arguments, installs
# those packages instead (fuzz/run.sh asks for cmake and the fuzzing compiler only).
fuzz_packages=(cmake clang libclang-rt-14-dev)
# The browser page: its WebAssembly build and the headless browser of its test (tests/web/run.sh).
web_packages=(emscripten chromium)
# scripts/cross.sh: GoogleTest's sources and, per target, the cross compiler and its emulator.
cross_packages=(cmake g++ googletest libgtest-dev)
declare -A cross_target_packages=([mingw]="g++-mingw-w64-x86-64 wine64" [aarch64]="g++-aarch64-linux-gnu qemu-user"
                                  [s390x]="g++-s390x-linux-gnu qemu-user")
install_missing_packages() {
  # Debian's python3 packages serve the Python package's tests (scripts/test_python.sh).
  local wanted=(cmake g++ clang pkg-config libgtest-dev libbenchmark-dev python3-numpy python3-pytest
                python3-distributed) missing=() pkg
  if (($# > 0)); then wanted=("$@"); fi
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if ((${#missing[@]} == 0)); then return 0; fi

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo -n)
    else
      echo "missing packages: ${missing[*]}; run as root or install them first" >&2
      return 1
    fi
  fi
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update </dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}" </dev/null
}
