#!/usr/bin/env bash
# The station's main job on an embedded default: a message is encoded into the audio of one
# transmission (modem type 0, "2400 short") and written to out/demo.wav.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null

mkdir -p out
cat > out/demo-message.txt <<'MESSAGE'
CQ CQ CQ de KAVRA1. Kavra-2400 test transmission: 8-PSK serial tone, 2400 bit/s,
rate 1/2 K=7 code, short interleaver. The quick brown fox jumps over the lazy dog 0123456789.
MESSAGE

echo "Encoding $(wc -c < out/demo-message.txt) bytes of out/demo-message.txt ..."
build/bin/kavra-modem tx --type 0 --mode 0 -i out/demo-message.txt -o out/demo.wav
echo "Wrote out/demo.wav ($(wc -c < out/demo.wav) bytes): 16-bit PCM mono at 48000 Hz, carrier 1800 Hz."
echo "Play it, or decode it with: build/bin/kavra-modem --help"
