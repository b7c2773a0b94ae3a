#!/usr/bin/env bash
# Installs what is missing, builds Kestrune and runs its main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${KESTRUNE_BUILD_DIR:-$root/build}
# The demonstration: a synthesised groove, a re-arranged piece of it, and the search.
"$build/cli/kestrune-cli" demo "$@"
