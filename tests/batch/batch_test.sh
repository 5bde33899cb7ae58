#!/usr/bin/env bash
# amrconv-batch against amrconv, file by file:
#   tests/batch/batch_test.sh AMRCONV_BATCH AMRCONV AMRSTREAMGEN WORK_DIR
# Builds a tree of recordings (nested folders, UTF-8 names, damaged, cut short, empty and
# "#!AMR\n" files, links, a path over the length limit), converts it with 1 and 2 jobs and
# with --amr, and compares every output and status with amrconv's own; then interrupts a run
# with SIGINT and reruns it. Ends with "N passed, N failed".
set -uo pipefail
batch=$(realpath "$1") amrconv=$(realpath "$2") gen=$(realpath "$3") work=$4
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...: one check, counted
  if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

# ---- The tree: 64 recordings and the odd files.
mkdir -p tree/2024/01 tree/2024/02/late "tree/équipe/réunion" "tree/日本語" outside
n=0
for dir in tree tree/2024 tree/2024/01 tree/2024/02 tree/2024/02/late "tree/équipe/réunion" "tree/日本語"; do
  for i in $(seq 1 9); do
    n=$((n + 1))
    "$gen" --frames $((20 + n * 7 % 150)) --mode $((n % 8)) --mode-change 0.05 --bad 0.02 \
      --dtx 0.02 --nodata 0.01 --seed "$n" "$dir/call $i.wav" >/dev/null
  done
done
"$gen" --frames 40 --seed 100 "tree/équipe/Ωmega, \"quoted\".wav" >/dev/null
head -c 40 tree/2024/01/"call 1.wav" >tree/2024/short_header.wav     # header cut: status 12
: >tree/2024/empty.wav                                                # zero length: 12
cp tree/2024/01/"call 2.wav" tree/2024/wrong_tag.wav                  # format tag 1: 14
printf '\001\000' | dd of=tree/2024/wrong_tag.wav bs=1 seek=20 conv=notrunc 2>/dev/null
cp tree/2024/01/"call 3.wav" tree/2024/02/noise.wav                   # frames overwritten
head -c 600 /dev/urandom | dd of=tree/2024/02/noise.wav bs=1 seek=200 conv=notrunc 2>/dev/null
head -c 1000 tree/2024/01/"call 4.wav" >tree/2024/02/cut_short.wav    # last frame cut short
{ printf '#!AMR\n'; tail -c +63 tree/2024/01/"call 5.wav"; } >tree/storage.amr
long=tree/$(printf 'd%.0s' $(seq 1 150))/$(printf 'f%.0s' $(seq 1 120)).wav
mkdir -p "$(dirname "$long")" && cp tree/2024/01/"call 6.wav" "$long"  # path over 259 bytes
"$gen" --frames 30 --seed 200 outside/away.wav >/dev/null
ln -s ../outside/away.wav tree/link_out.wav                           # not followed
ln -s "2024/01/call 7.wav" tree/link_in.wav                           # followed
ln -s ../outside tree/link_dir                                        # not walked
cp tree/2024/01/"call 8.wav" tree/2024/dup.wav && cp tree/2024/01/"call 9.wav" tree/2024/dup.WAV  # one output
sources=()
while IFS= read -r -d '' f; do sources+=("${f#tree/}"); done < <(find tree \( -type f -o -type l \) \
  ! -name link_out.wav ! -name link_dir ! -name 'dup.*' -print0 | sort -z)
echo "tree: ${#sources[@]} files to convert"
check "at least 60 files" test "${#sources[@]}" -ge 60

# ---- amrconv's own outputs and statuses, one file at a time.
declare -A status
for f in "${sources[@]}"; do
  for job in 1 2; do
    ext=wav; [ $job = 2 ] && ext=amr
    out=ref$job/${f%.*}.$ext
    mkdir -p "$(dirname "$out")"
    "$amrconv" "tree/$f" "$out" $job >/dev/null; status[$job/$f]=$?
    [ "${status[$job/$f]}" = 0 ] || rm -f "$out"
  done
done

# compare_run JOB OUTPUT_DIR REPORT: every output and every reported status against amrconv's.
compare_run() {
  local job=$1 dir=$2 report=$3 f ext=wav bad=0 row path st
  [ "$job" = 2 ] && ext=amr
  local -A reported=()
  while IFS=$'\t' read -r path st; do reported[$path]=$st; done < <(python3 -c '
import csv, sys
for r in csv.DictReader(open(sys.argv[1], encoding="utf-8")): print(r["path"] + "\t" + r["status"])' "$report")
  for f in "${sources[@]}"; do
    local out=$dir/${f%.*}.$ext
    if [ "${status[$job/$f]}" = 0 ]; then
      cmp -s "ref$job/${f%.*}.$ext" "$out" || { echo "  differs: $out"; bad=1; }
    else
      [ ! -e "$out" ] || { echo "  output of a failed file: $out"; bad=1; }
    fi
    row=${reported[$f]:-missing}
    [ "$row" = "${status[$job/$f]}" ] || { echo "  $f: report says '$row', amrconv ${status[$job/$f]}"; bad=1; }
  done
  [ -z "$(find "$dir" -name '*~')" ] || { echo "  temporary files left"; bad=1; }
  return $bad
}

for jobs in 1 2; do
  "$batch" tree out$jobs --jobs $jobs --report report$jobs.csv >log$jobs.txt 2>&1
  check "--jobs $jobs: exit status 2 for a tree with failures" test $? = 2
  check "--jobs $jobs: outputs and statuses equal amrconv's" compare_run 1 out$jobs report$jobs.csv
done
"$batch" tree amr --amr --report report_amr.csv --quiet >log_amr.txt 2>&1
check "--amr: outputs and statuses equal amrconv's" compare_run 2 amr report_amr.csv
check "the list names every failed file" grep -q '^  status 14  2024/wrong_tag.wav$' log2.txt
check "no link followed out of the tree" test ! -e out2/link_out.wav -a ! -e out2/link_dir
check "two sources of one output both refused" test ! -e out2/2024/dup.wav -a \
  "$(grep -c '^2024/dup\.\(wav\|WAV\),3,' report2.csv)" = 2
check "frames and concealed frames reported" python3 - report2.csv <<'PY'
import csv, sys
rows = {r["path"]: r for r in csv.DictReader(open(sys.argv[1], encoding="utf-8"))}
assert rows["2024/02/noise.wav"]["status"] == "0" and int(rows["2024/02/noise.wav"]["concealed_frames"]) > 0
assert rows["call 1.wav"]["frames"] == str(20 + 7 % 150) and rows["call 1.wav"]["seconds"] == "0.54"
assert rows["link_out.wav"]["status"] == "link-skipped"
PY

# A rerun converts nothing again; a newer source is converted again.
touch -d '+2 seconds' "tree/2024/01/call 8.wav"
"$batch" tree out2 --report rerun.csv >rerun.txt 2>&1
check "rerun: only the newer source converted" python3 - rerun.csv <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8")))
converted = [r["path"] for r in rows if r["status"] == "0"]
assert converted == ["2024/01/call 8.wav"], converted
PY

# Refusals of the whole run: destination inside the source tree, nothing written.
"$batch" tree tree/2024/inside >refused.txt 2>&1
check "destination inside the source refused" test $? = 1 -a ! -e tree/2024/inside
# A list file: paths relative to the list's folder.
printf '%s\n' "tree/équipe/réunion/call 3.wav" "tree/日本語/call 9.wav" >list.txt
"$batch" list.txt listed --quiet >list_log.txt 2>&1
check "list file: exit 0, outputs identical, nothing printed" \
  test $? = 0 -a ! -s list_log.txt -a "$(find listed -type f | wc -l)" = 2
check "list file outputs" cmp -s "listed/tree/日本語/call 9.wav" "ref1/日本語/call 9.wav"

# ---- Interrupted with SIGINT and rerun: no partial file, no file written twice.
mkdir -p long
for i in $(seq 1 40); do "$gen" --seconds 60 --seed $((300 + i)) "long/rec $i.wav" >/dev/null; done
"$batch" long long_out --jobs 2 --report int1.csv >int1.txt 2>&1 &
pid=$!
for _ in $(seq 1 3000); do [ -n "$(find long_out -name '*.wav' 2>/dev/null)" ] && break; sleep 0.01; done
kill -INT $pid
wait $pid
check "interrupted run exits with 130" test $? = 130
done_first=$(find long_out -name '*.wav' | wc -l)
echo "interrupted after $done_first of 40 files"
check "interrupted before the end" test "$done_first" -lt 40
check "no temporary file after the interrupt" test -z "$(find long_out -name '*~')"
stat -c '%n %i %.9Y' long_out/*.wav | sort >first.txt
"$batch" long long_out --jobs 2 --report int2.csv >int2.txt 2>&1
check "rerun exits with 0" test $? = 0
identical=0
for i in $(seq 1 40); do
  "$amrconv" "long/rec $i.wav" ref_long.wav 1 >/dev/null
  cmp -s ref_long.wav "long_out/rec $i.wav" && identical=$((identical + 1))
done
check "all 40 identical after the rerun ($identical)" test $identical = 40
stat -c '%n %i %.9Y' long_out/*.wav | sort | grep -Fxf first.txt >kept.txt
check "files of the first run not written again" cmp -s first.txt kept.txt
check "rerun converted exactly the rest" test "$(grep -c ',0,' int2.csv)" = $((40 - done_first)) \
  -a "$(grep -c ',up-to-date,' int2.csv)" = "$done_first"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
