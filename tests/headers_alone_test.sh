#!/usr/bin/env bash
# Every header of the decoder, the containers and the program compiles on its own: it includes
# what it uses and needs no includer to declare anything first.
#   headers_alone_test.sh SOURCE_DIR [COMPILER]
set -euo pipefail
cd "$1"
cxx=${2:-c++}
failed=0 checked=0
# Each instruction set's kernel headers only where the compiler targets it.
macros=$(echo | "$cxx" -dM -E -x c++ -)
has() { grep -q "$1" <<<"$macros"; }
# The folders are searched, not asked of git: an unpacked source tarball may lie inside another
# checkout, whose git knows none of its files.
for header in $(find amrdec app batch container -name '*.h' | sort); do
  [[ $header == amrdec/x86/* ]] && ! has __SSE2__ && continue
  [[ $header == amrdec/arm/* ]] && ! has __ARM_NEON && continue
  [[ $header == amrdec/wasm/* ]] && ! has __wasm_simd128__ && continue
  if ! echo "#include \"$header\"" | "$cxx" -x c++ -std=c++20 -DAMRNBDEC_INTERNAL -Wall -Wextra -Werror \
      -fsyntax-only -I. - 2>/tmp/headers_alone.$$; then
    echo "FAIL: $header does not compile alone:"; head -n 5 /tmp/headers_alone.$$
    failed=$((failed + 1))
  fi
  checked=$((checked + 1))
done
rm -f /tmp/headers_alone.$$
echo "$checked headers, $failed failed"
[[ $checked -gt 0 && $failed -eq 0 ]]
