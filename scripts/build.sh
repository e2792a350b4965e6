#!/usr/bin/env bash
# Configures and builds into a folder.  Usage: scripts/build.sh BUILD_DIR [cmake options...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
cmake -S "$here" -B "$here/$dir" "$@" >/dev/null
cmake --build "$here/$dir" -j "$(nproc)"
