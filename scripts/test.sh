#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test, then builds and
# runs them all again under AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded
# station tests under ThreadSanitizer.  Two stations also meet over a real sound server.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh

bash scripts/build.sh build -DKAVRA_WERROR=ON
ctest --test-dir build --output-on-failure -j "$(nproc)"
# Two stations on PortAudio through a private PulseAudio server with two null sinks.
bash scripts/pulse-test.sh build

bash scripts/build.sh build-asan -DKAVRA_WERROR=ON -DKAVRA_SANITIZE=ON -DKAVRA_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

bash scripts/build.sh build-tsan -DKAVRA_WERROR=ON -DKAVRA_TSAN=ON -DKAVRA_BUILD_BENCH=OFF --target station_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/bin/station_tests --gtest_filter='ThreadedStations.*'
bash scripts/fuzz.sh
