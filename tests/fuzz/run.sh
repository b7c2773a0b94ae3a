#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on its generated seed corpus and
# what earlier runs found:
#   tests/fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET] [WORK_DIR]
# Any finding (a crash, a sanitizer report, a broken invariant, a leak, an
# input slower than 20 s, more than 2 GiB of memory) fails the run; the input
# is kept as WORK_DIR/findings/<target>-crash-... and reproduced with
#   BUILD_DIR/<target> WORK_DIR/findings/<file>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [SECONDS] [WORK_DIR]}" && pwd)
seconds=${2:-60}
work=${3:-$build/fuzz-work}
mkdir -p "$work/findings"
bash "$here/make_corpus.sh" "$build" "$work/seeds"

declare -A max_len=([fuzz_wav_header]=65536 [fuzz_splits_database]=131072 [fuzz_declick]=4096 [fuzz_tempo]=65536
                   [fuzz_onset_tempo]=65536 [fuzz_convert]=65536)
# Leaks in the codec libraries the conversion reads through are not ours.
export LSAN_OPTIONS="suppressions=$here/../lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
failed=0
passed=0
targets=(fuzz_wav_header fuzz_splits_database fuzz_declick fuzz_tempo fuzz_onset_tempo)
# Built only where the conversion is (libsndfile and libsoxr present).
[ -x "$build/fuzz_convert" ] && targets+=(fuzz_convert)
# One process per target: no other job adds to the corpus, so it is not reread.
for target in "${targets[@]}"; do
  mkdir -p "$work/corpus/$target"
  log="$work/$target.log"
  if "$build/$target" -max_total_time="$seconds" -reload=0 -timeout=20 -rss_limit_mb=2048 -max_len="${max_len[$target]}" \
      -print_final_stats=1 -artifact_prefix="$work/findings/$target-" \
      "$work/corpus/$target" "$work/seeds/$target" > "$log" 2>&1; then
    echo "fuzz: $target: no finding in ${seconds}s ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs)"
    passed=$((passed + 1))
  else
    echo "fuzz: $target: FINDING (log $log)"
    tail -n 60 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
