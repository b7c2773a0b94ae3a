#!/usr/bin/env bash
# Configures and builds Kestrune into a build folder (default: build).
# Extra arguments go to the CMake configuration.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRUNE_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > /dev/null
cmake --build "$build" -j "$(nproc)"
