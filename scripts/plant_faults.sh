#!/usr/bin/env bash
# Plants single faults one at a time and reports which tests catch each. LIST holds one fault
# a line: FILE, a sed expression and what it breaks, separated by tabs ('#' lines are skipped).
# For each, the expression is applied to FILE, BUILD_DIR is rebuilt, the quick tests run
# (ctest -LE slow) and FILE is restored. A fault that does not compile is reported, not counted.
# Usage: scripts/plant_faults.sh LIST [BUILD_DIR]   (from the source tree; BUILD_DIR, default
# build/release, must be configured). Ends with "N caught, N missed".
set -uo pipefail
trap 'exit 1' INT TERM
list=$1
build=${2:-build/release}
caught=0 missed=0
saved="$build/planted_fault.orig"
while IFS=$'\t' read -r file expr what; do
  [[ -z $file || $file == \#* ]] && continue
  cp -p "$file" "$saved"
  trap 'cp "$saved" "$file"' EXIT
  sed -i -e "$expr" "$file"
  if cmp -s "$file" "$saved"; then
    echo "NOT APPLIED  $file: $what"
  elif ! cmake --build "$build" -j2 >"$build/planted_fault.build.log" 2>&1; then
    echo "NO BUILD     $file: $what"
  else
    ctest --test-dir "$build" -LE slow -j2 --timeout 600 >"$build/planted_fault.ctest.log" 2>&1
    # Only the tests listed as failed count: a skipped test ("The following tests did not run")
    # has caught nothing.
    failed=$(awk '/^The following tests FAILED:/ { on = 1; next } on && /^[[:space:]]*[0-9]+ - / { print $3; next } { on = 0 }' \
               "$build/planted_fault.ctest.log" | tr '\n' ' ')
    if [[ -n $failed ]]; then
      caught=$((caught + 1))
      echo "CAUGHT       $file: $what -- $failed"
    else
      missed=$((missed + 1))
      echo "MISSED       $file: $what"
    fi
  fi
  cp "$saved" "$file"
  touch "$file"
  trap - EXIT
done <"$list"
cmake --build "$build" -j2 >/dev/null 2>&1
echo "$caught caught, $missed missed"
