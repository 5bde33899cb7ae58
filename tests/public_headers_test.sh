#!/usr/bin/env bash
# The public headers compile alone: the C headers as C89 to C17 (and as C++), the C++ header
# at C++17 and C++20, and a C++14 user of the C++ header gets a clear error. With GCC, and
# with clang where it is installed.
#   public_headers_test.sh INCLUDE_DIR    (the directory that holds amrdec/)
set -euo pipefail
include=$1
flags=(-Wall -Wextra -pedantic -Werror -fsyntax-only -I"$include")
fail() { echo "FAIL: $*" >&2; exit 1; }
checked=0
for cc in gcc clang; do
  command -v "$cc" >/dev/null || { echo "$cc not installed: skipped"; continue; }
  cxx=${cc/gcc/g++}; cxx=${cxx/clang/clang++}
  for header in amrnb_decoder_c.h amrnb_file.h; do
    for std in c89 c99 c11 c17; do
      echo "#include <amrdec/$header>" | "$cc" -x c -std=$std "${flags[@]}" - \
        || fail "$cc: $header does not compile as $std"
    done
    echo "#include <amrdec/$header>" | "$cxx" -x c++ -std=c++98 "${flags[@]}" - \
      || fail "$cxx: $header does not compile as C++98"
  done
  for std in c++17 c++20; do
    echo '#include <amrdec/amrnb_decoder.h>' | "$cxx" -x c++ -std=$std "${flags[@]}" - \
      || fail "$cxx: amrnb_decoder.h does not compile as $std"
  done
  if errors=$(echo '#include <amrdec/amrnb_decoder.h>' | "$cxx" -x c++ -std=c++14 "${flags[@]}" - 2>&1); then
    fail "$cxx: amrnb_decoder.h compiles as C++14, below the level it declares"
  fi
  grep -q 'needs C++17' <<<"$errors" || fail "$cxx: C++14 error is not the header's own:"$'\n'"$errors"
  [[ $(grep -c 'error:' <<<"$errors") -eq 1 ]] || fail "$cxx: more than the one clear error:"$'\n'"$errors"
  checked=$((checked + 1))
done
[[ $checked -gt 0 ]] || fail "no C compiler"
echo "PASS: public headers with $checked compiler(s)"
