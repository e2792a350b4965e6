#!/usr/bin/env bash
# The station's main job on an embedded default: two stations, KAVRA1 and KAVRA2, in one process
# over a simulated HF channel (moderate fading, 15 dB S/N in 3 kHz, a few Hz of carrier offset),
# on virtual time.  KAVRA1 calls, KAVRA2 accepts, they chat, KAVRA1 sends a 30000-byte file, its
# copy under KAVRA2's RECEIVED folder is compared, KAVRA1 disconnects.  Options are passed on to
# kavra-demo (see build/bin/kavra-demo --help), e.g. --type 1 --snr 10 --fading poor.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null
exec build/bin/kavra-demo "$@"
