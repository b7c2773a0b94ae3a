#!/usr/bin/env bash
# Measures how well `find` finds pieces and how often it is wrongly sure, on
# music rendered from MIDI (bench/music/render.py), and prints the figures
# docs/find.md records.
#
#   bash bench/find_measure.sh [TRIALS] [FOLDER_TRIALS]
#
# Renders two sets of 64 one-minute songs once into
# ${XDG_CACHE_HOME:-~/.cache}/kestrune-find: songs (seed 1), on which the
# score was chosen, and songs5 (seed 5), on which it is reported. On songs5 it
# cuts TRIALS fragments (default 700) at random offsets, of 1, 2 or 8 splits
# of 500 ms, as cut, 6 dB quieter or with white noise 20 dB below, and
# searches each in its own song and in three other songs; then 150 fragments
# of 1 or 2 splits that begin in a song's lead-in, each in its own song and
# three others; then FOLDER_TRIALS fragments (default 500) in their own song,
# in the folder of all other songs and in one recording made of all other
# songs one after another (about an hour; some 8 s of two cores a fragment,
# over an hour in all); then 100 fragments of one 125 ms split. Each run
# prints one line per search before its summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_BENCH_BUILD:-$root/build-bench}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrune-find
trials=${1:-700}
folder=${2:-500}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target kestrune-find-measure > /dev/null
for set in "songs 1" "songs5 5"; do
  read -r name seed <<< "$set"
  if [ ! -f "$cache/$name/manifest.json" ]; then
    python3 "$root/bench/music/render.py" "$cache/$name" --count 64 --seed "$seed" --seconds 60
  fi
done
songs=$cache/songs5
measure=$build/bench/kestrune-find-measure
summary() { sed -n '/^summary/,$p'; }
echo "== 500 ms splits, fragments of 1, 2 and 8 splits, own song and three others"
"$measure" "$songs" --trials "$trials" --fragments 1,2,8 --others 3 --seed 21 | summary
echo "== fragments that begin in a song's lead-in"
"$measure" "$songs" --trials 150 --fragments 1,2 --others 3 --seed 22 --lead-in 1 | summary
echo "== the folder of all other songs and one long recording of them"
"$measure" "$songs" --trials "$folder" --fragments 1,2,8 --others 0 --folder "$folder" --long "$folder" --seed 23 |
  summary
echo "== 125 ms splits, fragments of 1 split"
"$measure" "$songs" --trials 100 --fragments 1 --split-ms 125 --others 1 --seed 24 | summary
