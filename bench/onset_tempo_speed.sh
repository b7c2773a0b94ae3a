#!/usr/bin/env bash
# Speed and memory of `kestrune-cli tempo --method onset` on a one-hour file,
# against `aubio tempo` (Debian package aubio-tools) on the same file, and the
# Google Benchmark case of the estimator alone.
#
#   bash bench/onset_tempo_speed.sh             # each figure the median of 3 runs
#   KESTRUNE_BENCH_REPEAT=5 bash bench/onset_tempo_speed.sh
#
# Builds into build-bench (Release, no tests) as bench/run.sh does and shares
# its cached one-hour groove. Times are CPU seconds (user + system) of one
# process, so that other work on the machine does not count; the estimator
# runs on one thread. Wall seconds are shown beside them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_BENCH_BUILD:-$root/build-bench}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrune-bench
repeat=${KESTRUNE_BENCH_REPEAT:-3}

# The yardstick and the timer, installed when missing and this user may.
wanted=()
for p in aubio-tools time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || wanted+=("$p")
done
if [ ${#wanted[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ] && command -v apt-get > /dev/null; then
  apt-get install -y -qq --no-install-recommends "${wanted[@]}" > /dev/null 2>&1 ||
    echo "could not install ${wanted[*]}: the figures that need them are left out"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target kestrune-cli kestrune-bench kestrune-bench-input > /dev/null
cli=$build/cli/kestrune-cli
mkdir -p "$cache"
source=$cache/groove-3600s.wav
shorter=$cache/groove-600s.wav
[ -f "$source" ] || "$build/bench/kestrune-bench-input" groove "$source" 3600
[ -f "$shorter" ] || "$build/bench/kestrune-bench-input" groove "$shorter" 600
cat "$source" > /dev/null  # into the page cache for every contender alike

# "cpu wall rss_kb" of one run.
run() { /usr/bin/time -f "%U %S %e %M" "$@" 2>&1 > /dev/null | tail -n 1 | awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }'; }
# The run with the median CPU time of $repeat.
median() {
  local i
  for ((i = 0; i < repeat; i++)); do run "$@"; done | sort -g | awk '{ l[NR] = $0 } END { print l[int((NR + 1) / 2)] }'
}

echo "onset tempo speed, $(date -u +%Y-%m-%dT%H:%MZ), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), median of $repeat runs"
read -r cpu wall rss < <(median "$cli" tempo "$source" --method onset --quiet)
echo "kestrune-cli tempo --method onset, 1 hour: $cpu s CPU ($wall s wall), $(awk -v c="$cpu" 'BEGIN { printf "%.0f", 3600 / c }') x realtime (target >= 1000), peak memory $((rss / 1024)) MiB"
read -r _ _ rss10 < <(repeat=1 median "$cli" tempo "$shorter" --method onset --quiet)
echo "  the same on 10 minutes: peak memory $((rss10 / 1024)) MiB"
if command -v aubio > /dev/null; then
  read -r acpu awall arss < <(repeat=1 median aubio tempo "$source")
  echo "aubio tempo, same file: $acpu s CPU ($awall s wall), peak memory $((arss / 1024)) MiB:" \
       "kestrune is $(awk -v a="$acpu" -v b="$cpu" 'BEGIN { printf "%.1f", a / b }') x faster (target >= 5)"
else
  echo "aubio tempo: not installed (apt-get install aubio-tools), no comparison"
fi
"$build/bench/kestrune-bench" --benchmark_filter=OnsetTempo --benchmark_repetitions="$repeat" \
  --benchmark_report_aggregates_only=true 2> /dev/null | grep -E "OnsetTempo.*(median|mean)"
