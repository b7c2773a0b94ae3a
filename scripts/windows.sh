#!/usr/bin/env bash
# The Windows build of the core and the command line: installs mingw-w64 and
# Wine when missing, cross-builds into build-windows/ (with ccache when there
# is one), runs the test programs under Wine, checks that kestrune-cli.exe
# gives the Linux build's output and files byte for byte, and makes the ZIP
# package.
#
#   bash scripts/windows.sh   # builds the Linux kestrune-cli in build/ first when it is missing
#
# Not run under Wine, because they need what only POSIX has: the full-disk,
# signal and terminal cases of the hostile suite (result_safety_test.cpp:
# RLIMIT_FSIZE, kill, a pseudo-terminal, result names of 255 bytes beyond
# MAX_PATH), the full-disk conversion test (result_files_posix_test.cpp), and
# the hostile cases with a named pipe in a folder or a name ending in a dot.
# Tests that need symbolic links, sparse files or shrinking a file someone
# reads skip themselves where the system refuses (they say so). The
# conversion and its tests are not built: Debian has no libsndfile or libsoxr
# for mingw.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_WINDOWS_BUILD_DIR:-$root/build-windows}
native=${KESTRUNE_BUILD_DIR:-$root/build}
limit=${KESTRUNE_WINE_TIME_LIMIT:-1500}  # seconds for the whole test run under Wine
jobs=$(nproc)

packages=(g++-mingw-w64-x86-64-posix wine64 googletest libcli11-dev nlohmann-json3-dev cmake make ccache)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_WITH_CONVERT=OFF -DKESTRUNE_BUILD_UI=OFF \
  -DKESTRUNE_BUILD_BENCH=OFF "${launcher[@]}" > /dev/null
cmake --build "$build" -j "$jobs"

# The Linux program the Windows one is compared with (scripts/test.sh builds
# it with everything else).
cli_linux="$native/cli/kestrune-cli"
if [ ! -x "$cli_linux" ]; then
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" > /dev/null
  cmake --build "$native" -j "$jobs" --target kestrune-cli
fi

# Wine keeps its own Windows installation inside the build folder; the first
# start makes it (about a minute).
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
timeout 300 "$wine" cmd /c exit > /dev/null 2>&1 || true

# The test programs, side by side (each works in folders of its own; the
# Wine programs share one server, started above).
timeout "$limit" ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$jobs"

# The same files through both builds must give the same bytes.
cli_windows="$build/cli/kestrune-cli.exe"
work=$(mktemp -d "$build/compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/linux" "$work/windows"
"$cli_linux" demo "$work/in" --quiet > /dev/null
run_both() {  # name, then the arguments; outputs go to linux/ and windows/
  local name=$1
  shift
  (cd "$work/linux" && "$cli_linux" "$@" > "$name.out")
  (cd "$work/windows" && timeout 300 "$wine" "$cli_windows" "$@" > "$name.out")
  if ! cmp -s "$work/linux/$name.out" "$work/windows/$name.out"; then
    echo "windows.sh: '$name' differs between the Linux and the Windows build" >&2
    diff <(head -c 2000 "$work/linux/$name.out") <(head -c 2000 "$work/windows/$name.out") >&2 || true
    exit 1
  fi
  echo "same output: $name"
}
in=$work/in
# Relative names: on Windows a word starting with "/" is an option (CLI11).
run_both masks masks ../in/groove.wav --split-ms 100 --quiet
run_both masks-json masks ../in/groove.wav --split-ms 500 --json --quiet
run_both tempo tempo ../in/groove.wav --json --quiet
# Relative names, so that the reports name the same files ("out/" is a folder
# on both systems; a separator of the system's own would differ).
for side in linux windows; do
  cp "$in/groove.wav" "$in/piece.wav" "$work/$side/"
  mkdir -p "$work/$side/out" "$work/$side/out-db"
done
run_both match match --source groove.wav --sample piece.wav --split-ms 500 --min-similarity 80 \
  --output out/ --json --quiet
run_both build-db build-db --source groove.wav --split-ms 250 --output songs.qlmx --splits-per-file 20 --quiet
run_both match-db match --database songs.qlmx --sample piece.wav --min-similarity 80 --separate \
  --output out-db/ --json --quiet
# Again over the results of the first run: each is replaced whole (on
# Windows by MoveFileExW), never appended to or left half-written.
run_both match-again match --source groove.wav --sample piece.wav --split-ms 500 --min-similarity 80 \
  --output out/ --json --quiet
# A name outside ASCII and any code page, through the command line (UTF-16
# on Windows) to the file and back into the report.
name=$'\xc3\x9cber \xe2\x99\xab \xe6\x9b\xb2'  # "Über ♫ 曲"
for side in linux windows; do
  mkdir -p "$work/$side/$name"
  cp "$in/piece.wav" "$work/$side/$name/$name.wav"
done
run_both unicode match --source groove.wav --sample "$name/$name.wav" --split-ms 500 --min-similarity 80 \
  --output "$name/" --json --quiet
grep -q "$name/${name}_rest.wav" "$work/windows/unicode.out" || {
  echo "windows.sh: the report does not name the non-ASCII result file" >&2
  exit 1
}
for side in linux windows; do
  (cd "$work/$side" && find . -type f ! -name '*.out' -print0 | sort -z | xargs -0 sha256sum) > "$work/$side.sums"
done
if ! cmp -s "$work/linux.sums" "$work/windows.sums"; then
  echo "windows.sh: the written files differ between the Linux and the Windows build" >&2
  diff "$work/linux.sums" "$work/windows.sums" >&2 || true
  exit 1
fi
echo "same files: $(wc -l < "$work/linux.sums") results, database tables and data files"

cmake --build "$build" --target package > /dev/null
package=$(ls "$build"/kestrune-*-windows-x86_64.zip)
cmake -E tar tf "$package" | grep -q "/kestrune-cli.exe$" || {
  echo "windows.sh: $package holds no kestrune-cli.exe" >&2
  exit 1
}
echo "package: $package"
