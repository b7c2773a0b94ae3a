#!/usr/bin/env bash
# Installs what is missing, builds Kestrune and runs it: the desktop program
# when a display is available, otherwise the command-line demonstration.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${KESTRUNE_BUILD_DIR:-$root/build}
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/ui/kestrune"
fi
# The demonstration: a synthesised groove, a re-arranged piece of it, and the search.
"$build/cli/kestrune-cli" demo "$@"
