#!/usr/bin/env bash
# Every header of the decoder, the containers and the program compiles on its own: it includes
# what it uses and needs no includer to declare anything first.
#   headers_alone_test.sh SOURCE_DIR [COMPILER]
set -euo pipefail
cd "$1"
cxx=${2:-c++}
failed=0 checked=0
# The x86 kernels' headers only where the compiler targets SSE2.
sse2=$(echo | "$cxx" -dM -E -x c++ - | grep -c __SSE2__ || true)
for header in $(git ls-files 'amrdec/*.h' 'app/*.h' 'container/*.h' 2>/dev/null || find amrdec app container -name '*.h'); do
  [[ $header == amrdec/x86/* && $sse2 -eq 0 ]] && continue
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
