#!/usr/bin/env bash
# Installs what is missing, builds Kestrune and runs its main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "${KESTRUNE_BUILD_DIR:-$root/build}"
# Until the command-line front end exists, the main job is the core's own check.
ctest --output-on-failure -j "$(nproc)"
