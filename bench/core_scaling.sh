#!/usr/bin/env bash
# How much a second core adds on this machine for work that never waits:
# the block benchmark (compute only, everything in cache) alone, then two
# copies at the same time. On real cores two copies keep their speed; where
# the system's cores share a physical one, or are not always given, each
# copy slows and the pair yields less than 2x.
#   bash bench/core_scaling.sh [BUILD_DIR] [FILTER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
filter=${2:-BM_AnalyseBlock_Vector}
bench=$build/bench/kestrune-bench
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 1; }
run() { "$bench" --benchmark_filter="^$filter\$" --benchmark_min_time=3 --benchmark_format=csv 2>/dev/null |
        awk -F, -v f="\"$filter\"" '$1 == f { print $3 }'; }   # wall time per block, ns
alone=$(run)
tmp=$(mktemp -d)
run > "$tmp/a" & run > "$tmp/b" & wait
a=$(cat "$tmp/a"); b=$(cat "$tmp/b"); rm -rf "$tmp"
awk -v s="$alone" -v a="$a" -v b="$b" 'BEGIN {
  printf "one copy alone: %.0f ns a block\n", s
  printf "two at once: %.0f and %.0f ns a block: the pair does %.2f x the work of one alone\n", a, b, s / a + s / b }'
