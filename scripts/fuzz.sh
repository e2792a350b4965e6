#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan) into build-fuzz, runs each over its corpus
# in fuzz/corpus/ (the seeds and every input that once broke it), then fuzzes each for a bounded
# time.  Fails when any target fails.  New inputs found go to build-fuzz/corpus/, crashes to
# build-fuzz/findings/; neither touches the committed corpus.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default: 120 seconds for all targets together)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

targets=(link_session_fuzz pipeline_bytes_fuzz block_decoder_fuzz receiver_samples_fuzz wav_rx_fuzz
         settings_fuzz operator_commands_fuzz station_script_fuzz)
per_target=${1:-$((120 / ${#targets[@]}))}

CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -DKAVRA_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
nice cmake --build "$here/build-fuzz" -j 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A slow input is a failure (a hang); the receiver targets get longer (an input may hold seconds of
# signal run through the receiver under the sanitizers).
timeout_for() {
  case "$1" in
    receiver_samples_fuzz|wav_rx_fuzz|station_script_fuzz) echo 60 ;;
    *) echo 10 ;;
  esac
}
# Longest input: long enough for a whole session, a frame of bits or a burst of samples.
max_len_for() {
  case "$1" in
    receiver_samples_fuzz|wav_rx_fuzz) echo 40000 ;;
    *) echo 4096 ;;
  esac
}

failed=()
for t in "${targets[@]}"; do
  bin="$here/build-fuzz/bin/$t"
  seeds="$here/fuzz/corpus/$t"
  work="$here/build-fuzz/corpus/$t"
  findings="$here/build-fuzz/findings"
  mkdir -p "$work" "$findings"
  echo "== $t: regression over $(ls "$seeds" | wc -l) corpus inputs"
  if ! nice "$bin" -timeout="$(timeout_for "$t")" -rss_limit_mb=2048 -runs=0 "$seeds" >"$findings/$t.regression.log" 2>&1; then
    tail -n 30 "$findings/$t.regression.log"
    failed+=("$t (corpus)")
    continue
  fi
  echo "== $t: fuzzing for ${per_target}s"
  if ! nice "$bin" -timeout="$(timeout_for "$t")" -rss_limit_mb=2048 -max_len="$(max_len_for "$t")" \
       -max_total_time="$per_target" \
       -artifact_prefix="$findings/$t-" -print_final_stats=1 "$work" "$seeds" >"$findings/$t.fuzz.log" 2>&1; then
    tail -n 40 "$findings/$t.fuzz.log"
    failed+=("$t (fuzzing)")
    continue
  fi
  grep -E '^stat::number_of_executed_units' "$findings/$t.fuzz.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]} (inputs in build-fuzz/findings/)"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets passed"
