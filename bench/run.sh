#!/usr/bin/env bash
# Measures Kestrune's analysis and whole jobs against their yardsticks, all in
# one run, and prints the figures that docs/performance.md records.
#
#   bash bench/run.sh            # every figure, each the median of 3 runs
#   KESTRUNE_BENCH_REPEAT=5 bash bench/run.sh
#
# Builds into build-bench (Release, no tests). Inputs are generated once and
# cached in ${XDG_CACHE_HOME:-~/.cache}/kestrune-bench: a one-hour and a
# ten-minute 44.1 kHz stereo source and an 8-second excerpt of the first.
# The source is pink noise (energy in every band of every block);
# KESTRUNE_BENCH_SOURCE=groove takes a synthetic groove instead.
# `aubio tempo` (Debian package aubio-tools) is the tempo yardstick; without
# it that line says so and the rest goes on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_BENCH_BUILD:-$root/build-bench}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrune-bench
repeat=${KESTRUNE_BENCH_REPEAT:-3}
cores=$(nproc)

# The yardsticks and tools, installed when missing and this user may.
wanted=()
for p in libfftw3-dev aubio-tools time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || wanted+=("$p")
done
if [ ${#wanted[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ] && command -v apt-get > /dev/null; then
  apt-get install -y -qq --no-install-recommends "${wanted[@]}" > /dev/null 2>&1 ||
    echo "could not install ${wanted[*]}: the figures that need them are left out"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$cores" --target kestrune-cli kestrune-bench kestrune-bench-input kestrune-bench-find > /dev/null
cmake --build "$build" -j "$cores" --target kestrune-bench-fftw-masks > /dev/null 2>&1 || true
cli=$build/cli/kestrune-cli
bench=$build/bench/kestrune-bench
fftw_masks=$build/bench/kestrune-bench-fftw-masks
find_run=$build/bench/kestrune-bench-find

mkdir -p "$cache"
kind=${KESTRUNE_BENCH_SOURCE:-pink}
source=$cache/$kind-3600s.wav
shorter=$cache/$kind-600s.wav
sample=$cache/$kind-excerpt-8s.wav
[ -f "$source" ] || "$build/bench/kestrune-bench-input" "$kind" "$source" 3600
[ -f "$shorter" ] || "$build/bench/kestrune-bench-input" "$kind" "$shorter" 600
# From second 1234.5 on: a whole number of 500 ms splits into the source.
[ -f "$sample" ] || "$build/bench/kestrune-bench-input" excerpt "$source" "$sample" 1234 8
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Seconds of one run of a command, its output discarded.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

# "median min max" of the times in a file, one a line.
stats() { sort -g "$1" | awk '{ t[NR] = $1 } END { printf "%.4f %.4f %.4f\n", t[int((NR + 1) / 2)], t[1], t[NR] }'; }

# "median min max" of $repeat runs.
measure() {
  local i
  for ((i = 0; i < repeat; i++)); do seconds "$@"; done > "$out/times"
  stats "$out/times"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
micro() { awk -v ns="$1" 'BEGIN { printf "%.2f", ns / 1000 }'; }

echo "Kestrune benchmarks, $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), median of $repeat runs (min..max)"
echo

# 1. One block of analysis: CPU time per block, median of the repetitions.
"$bench" --benchmark_filter='AnalyseBlock' --benchmark_repetitions="$repeat" \
  --benchmark_format=csv 2> /dev/null | grep '_median"' > "$out/blocks.csv"
block() { awk -F, -v name="\"BM_AnalyseBlock_$1_median\"" '$1 == name { print $4 }' "$out/blocks.csv"; }
scalar=$(block Scalar)
vector=$(block Vector)
fftw=$(block Fftw)
printf 'analysis per block (CPU time): scalar %s us, fast path %s us' "$(micro "$scalar")" "$(micro "$vector")"
if [ -n "$fftw" ]; then
  printf ', FFTW pipeline %s us: fast path / FFTW = %s (target <= 1.3)\n' "$(micro "$fftw")" "$(ratio "$vector" "$fftw")"
else
  printf ' (no FFTW: built without libfftw3-dev)\n'
fi
avx2=$(block Avx2)
avx512=$(block Avx512)
printf '  (vector paths, same run: AVX2 %s us, AVX-512 %s)\n' "$(micro "${avx2:-0}")" \
  "$([ -n "$avx512" ] && echo "$(micro "$avx512") us" || echo "not available here")"

# 2. Scoring and ranking.
"$bench" --benchmark_filter='BM_ScoreAndRank/' --benchmark_repetitions="$repeat" \
  --benchmark_format=csv 2> /dev/null | grep '_median"' |
  awk -F, '{ gsub(/"/, "", $1); sub(/BM_ScoreAndRank\//, "", $1); sub(/_median/, "", $1);
             printf "scoring and ranking %s candidates: %.2f ms CPU\n", $1, $4 }'
echo "  (target: 1,000,000 candidates <= 40 ms)"

# The rest reads the source from a warm page cache.
cat "$source" > /dev/null
read -r cat_t cat_min cat_max < <(measure cat "$source")
echo
echo "cat source > /dev/null (1 hour, $(du -m "$source" | cut -f1) MB): $cat_t s ($cat_min..$cat_max)"

# 3. Source preparation: every split of the hour analysed (kestrune-cli masks).
# One thread and all threads in turn, so that a burst of load from elsewhere
# falls on both alike.
: > "$out/one"
: > "$out/all"
for ((i = 0; i < repeat; i++)); do
  seconds "$cli" masks "$source" --split-ms 500 --quiet --threads 1 >> "$out/one"
  seconds "$cli" masks "$source" --split-ms 500 --quiet --threads "$cores" >> "$out/all"
done
read -r one one_min one_max < <(stats "$out/one")
read -r all all_min all_max < <(stats "$out/all")
echo "source preparation, 1 thread: $one s ($one_min..$one_max) = $(ratio 3600 "$one") x realtime (target >= 7500)"
echo "source preparation, $cores threads: $all s ($all_min..$all_max) = $(ratio 3600 "$all") x realtime," \
     "$(ratio "$one" "$all") x faster than 1 thread (target >= 1.85 on 2 cores)"
if [ -x "$fftw_masks" ]; then
  # The same whole job on FFTW, 1 and all threads in turn.
  : > "$out/fone"
  : > "$out/fall"
  for ((i = 0; i < repeat; i++)); do
    seconds "$fftw_masks" "$source" 500 1 >> "$out/fone"
    seconds "$fftw_masks" "$source" 500 "$cores" >> "$out/fall"
  done
  read -r fone fone_min fone_max < <(stats "$out/fone")
  read -r fall fall_min fall_max < <(stats "$out/fall")
  echo "FFTW masks pipeline, 1 thread: $fone s ($fone_min..$fone_max): kestrune / FFTW = $(ratio "$one" "$fone") (target <= 0.8)"
  echo "FFTW masks pipeline, $cores threads: $fall s ($fall_min..$fall_max): kestrune / FFTW = $(ratio "$all" "$fall") (target <= 0.8)"
else
  echo "FFTW masks pipeline: not built (apt-get install libfftw3-dev), no comparison"
fi
if [ -x /usr/bin/time ]; then
  # CPU seconds (user + system) of one run each: how well the work divides,
  # whatever share of the cores the machine's other work leaves.
  cpu() { /usr/bin/time -f "%U %S" "$@" 2>&1 > /dev/null | tail -n 1 | awk '{ printf "%.2f", $1 + $2 }'; }
  echo "  (CPU time: 1 thread $(cpu "$cli" masks "$source" --split-ms 500 --quiet --threads 1) s," \
       "$cores threads $(cpu "$cli" masks "$source" --split-ms 500 --quiet --threads "$cores") s)"
fi
KESTRUNE_KERNELS=scalar
export KESTRUNE_KERNELS
read -r plain plain_min plain_max < <(measure "$cli" masks "$source" --split-ms 500 --quiet --threads 1)
unset KESTRUNE_KERNELS
echo "  (scalar kernels, 1 thread: $plain s ($plain_min..$plain_max) = $(ratio 3600 "$plain") x realtime)"

# 4. The whole match on the hour, few splits selected.
read -r match match_min match_max < <(measure "$cli" match --source "$source" --sample "$sample" \
  --min-similarity 90 --quiet --output "$out")
echo "match, 1 hour, --min-similarity 90, $cores threads: $match s ($match_min..$match_max)" \
     "= $(ratio "$match" "$cat_t") x cat (target <= 4)"

# 4b. The search at every hop of 128 frames, the excerpt's first two splits.
read -r found found_min found_max < <(measure "$find_run" "$sample" "$source" 128 "$cores")
echo "find, 1 hour, hop 128, $cores threads: $found s ($found_min..$found_max) (target <= 3 on 2 cores)"

# 5. Tempo of the hour. Noise has no beat: the estimator's "no estimate"
# (exit 1) is the expected answer there, and the run still counts.
estimate() { "$@" || [ $? -eq 1 ]; }
read -r tempo tempo_min tempo_max < <(measure estimate "$cli" tempo "$source" --quiet)
echo "tempo, 1 hour, $cores threads: $tempo s ($tempo_min..$tempo_max) = $(ratio 3600 "$tempo") x realtime (target >= 5000)"
if command -v aubio > /dev/null; then
  # aubio is slow: one run is enough for the yardstick.
  aubio_t=$(seconds aubio tempo "$source")
  echo "aubio tempo, same file: $aubio_t s: kestrune is $(ratio "$aubio_t" "$tempo") x faster (target >= 10)"
else
  echo "aubio tempo: not installed (apt-get install aubio-tools), no comparison"
fi

# 6. Memory: the peak resident size of a match on 10 minutes and on 1 hour.
if [ -x /usr/bin/time ]; then
  rss() {
    /usr/bin/time -v "$cli" match --source "$1" --sample "$sample" --min-similarity 90 --quiet --output "$out" 2>&1 > /dev/null |
      awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
  }
  echo
  echo "peak resident memory of match: 10 minutes $(rss "$shorter") KB, 1 hour $(rss "$source") KB" \
       "(the mask table grows by 88 bytes a split: about 0.6 MB for the hour)"
  rss_tempo() { /usr/bin/time -v "$cli" tempo "$1" --quiet 2>&1 > /dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }'; }
  echo "peak resident memory of tempo: 10 minutes $(rss_tempo "$shorter") KB, 1 hour $(rss_tempo "$source") KB"
  rss_of() { /usr/bin/time -v "$@" 2>&1 > /dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }'; }
  echo "peak resident memory of masks ($cores threads): 10 minutes $(rss_of "$cli" masks "$shorter" --split-ms 500 --quiet) KB," \
       "1 hour $(rss_of "$cli" masks "$source" --split-ms 500 --quiet) KB (the mask table: 88 bytes a split)"
  echo "peak resident memory of find (hop 128): 10 minutes $(rss_of "$find_run" "$sample" "$shorter" 128 "$cores") KB," \
       "1 hour $(rss_of "$find_run" "$sample" "$source" 128 "$cores") KB (the scores: 6 bytes a start)"
fi

# 7. Conversion of one hour of 48 kHz 24-bit stereo (made by sox) on one core.
if command -v sox > /dev/null && [ -n "$("$bench" --benchmark_list_tests 2> /dev/null | grep Convert)" ]; then
  hour48=$cache/noise-48k24-3600s.wav
  [ -f "$hour48" ] || sox -D -n -r 48000 -c 2 -b 24 "$hour48" synth 3600 pinknoise gain -3
  echo
  if [ -x /usr/bin/time ] && command -v taskset > /dev/null; then
    : > "$out/convert"
    for ((i = 0; i < repeat; i++)); do
      /usr/bin/time -f "%U %S" taskset -c 0 "$cli" convert --quiet "$hour48" "$out/converted.wav" 2>&1 > /dev/null |
        tail -n 1 | awk '{ printf "%.2f\n", $1 + $2 }' >> "$out/convert"
    done
    read -r conv conv_min conv_max < <(stats "$out/convert")
    echo "convert, 1 hour 48 kHz 24-bit stereo, one core: $conv CPU s ($conv_min..$conv_max)" \
         "= $(ratio 3600 "$conv") x realtime (target >= 200)"
  fi
  read -r wall wall_min wall_max < <(measure "$cli" convert --quiet "$hour48" "$out/converted.wav")
  echo "  (wall time $wall s ($wall_min..$wall_max) = $(ratio 3600 "$wall") x realtime)"
  rm -f "$out/converted.wav"
else
  echo "convert: sox or a build with conversion is missing, no figure"
fi
