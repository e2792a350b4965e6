#!/usr/bin/env bash
# Configures and builds into a folder.
# Usage: scripts/build.sh BUILD_DIR [cmake options...] [--target TARGET]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
options=()
target=()
while [ $# -gt 0 ]; do
  if [ "$1" = --target ]; then target=(--target "$2"); shift 2; else options+=("$1"); shift; fi
done
cmake -S "$here" -B "$here/$dir" "${options[@]}" >/dev/null
cmake --build "$here/$dir" -j "$(nproc)" "${target[@]}"
