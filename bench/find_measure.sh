#!/usr/bin/env bash
# Measures how well `find` finds pieces and how often it is wrongly sure, on
# music rendered from MIDI (bench/music/render.py), and prints the figures
# docs/find.md records.
#
#   bash bench/find_measure.sh [TRIALS] [FOLDER_TRIALS]
#
# Renders 64 one-minute songs once into ${XDG_CACHE_HOME:-~/.cache}/kestrune-find
# (about an hour of music), then cuts TRIALS fragments (default 300) at
# random offsets, of 1, 2 or 8 splits of 500 ms (half of them 8), as cut, 6 dB
# quieter or with white noise 20 dB below, and searches each in its own song
# and in two other songs; the first FOLDER_TRIALS (default 20) are also
# searched in the folder of all other songs at once and in one recording made
# of all other songs one after another (about an hour). A second run does the
# same with 125 ms splits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_BENCH_BUILD:-$root/build-bench}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrune-find
trials=${1:-300}
folder=${2:-20}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target kestrune-find-measure > /dev/null
songs=$cache/songs
if [ ! -f "$songs/manifest.json" ]; then
  python3 "$root/bench/music/render.py" "$songs" --count 64 --seed 1 --seconds 60
fi
measure=$build/bench/kestrune-find-measure
echo "== 500 ms splits, fragments of 1, 2 and 8 splits"
"$measure" "$songs" --trials "$trials" --fragments 1,2,8,8 --split-ms 500 --others 2 --folder "$folder" \
  --long "$folder" --seed 1 |
  sed -n '/^summary/,$p'
echo "== 125 ms splits, fragments of 1 split"
"$measure" "$songs" --trials "$((trials / 3))" --fragments 1 --split-ms 125 --seed 2 | sed -n '/^summary/,$p'
