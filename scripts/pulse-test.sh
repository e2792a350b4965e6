#!/usr/bin/env bash
# Two stations over a real sound server: starts a private PulseAudio (its own runtime folder,
# nothing shared with a desktop session; works as root), with two null sinks kavra1 and kavra2,
# and stops it by its pid at the end.
#
#   scripts/pulse-test.sh [--server-only] [--keep] [BUILD_DIR]     (BUILD_DIR defaults to build)
#
# --server-only: checks the server (both sinks exist; a tone played into kavra1 is heard on
#   kavra1.monitor) and the PortAudio adapter on it (platform_tests: capture through ALSA's
#   "pulse" device from kavra1.monitor while a tone plays into kavra1; bursts played into kavra2
#   are heard on kavra2.monitor; a burst played into kavra1 comes back unchanged when captured
#   from kavra1.monitor).
# Without it, also the on-air check: KAVRA1 plays into kavra1 and hears kavra2.monitor, KAVRA2
#   the reverse, both `kavra-station --headless --air portaudio` on device "ALSA: pulse";
#   KAVRA1 connects and says "hello over pulse"; passes when KAVRA2 shows it as an abonent line.
# --keep: keep the work folder (logs, recordings, station output) even when everything passed.
#
# Exit 0 when every check passed, 1 when one failed, 2 on bad usage or a missing program.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
server_only=0
keep=0
build=""
for arg in "$@"; do
  case "$arg" in
    --server-only) server_only=1 ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    -*) echo "pulse-test: unknown option $arg" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done
build=${build:-$here/build}
case "$build" in /*) ;; *) build=$here/$build ;; esac

for program in pulseaudio pactl pacat parecord od awk timeout; do
  command -v "$program" >/dev/null || { echo "pulse-test: $program is missing (scripts/install-deps.sh)" >&2; exit 2; }
done
platform_tests=$build/bin/platform_tests
station=$build/bin/kavra-station
[ -x "$platform_tests" ] || { echo "pulse-test: $platform_tests is not built" >&2; exit 2; }
if [ $server_only -eq 0 ] && [ ! -x "$station" ]; then
  echo "pulse-test: $station is not built (use --server-only to check the server alone)" >&2
  exit 2
fi

work=$(mktemp -d /tmp/kavra-pulse.XXXXXX)
chmod 700 "$work"
mkdir -p "$work/run/pulse" "$work/home"
# Everything PulseAudio and its clients look at stays in the work folder.
export XDG_RUNTIME_DIR=$work/run
export PULSE_RUNTIME_PATH=$work/run/pulse
export HOME=$work/home
export PULSE_SERVER=unix:$work/run/pulse/native
unset PULSE_SINK PULSE_SOURCE DISPLAY DBUS_SESSION_BUS_ADDRESS

server_pid=""
background=()
failed=0
cleanup() {
  local pid
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ $failed -eq 0 ] && [ $keep -eq 0 ]; then rm -rf "$work"; else echo "pulse-test: logs kept in $work"; fi
}
trap cleanup EXIT
trap 'failed=1; exit 1' INT TERM

pass() { echo "pulse-test: ok: $*"; }
fail() { echo "pulse-test: FAILED: $*" >&2; failed=1; }

# ---- The server ---------------------------------------------------------------------------------
# No configuration of the system's: only the native socket (no cookie needed) and two mono
# 48000 Hz null sinks.  As root, pulseaudio warns that it is meant for users but runs in this
# per-user mode; --system is not needed.
cat >"$work/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/run/pulse/native
load-module module-null-sink sink_name=kavra1 rate=48000 channels=1 format=s16le norewinds=1
load-module module-null-sink sink_name=kavra2 rate=48000 channels=1 format=s16le norewinds=1
EOF
pulseaudio --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  --realtime=no --high-priority=no -n -F "$work/server.pa" \
  --log-target=file:"$work/pulseaudio.log" --log-level=notice >"$work/pulseaudio.out" 2>&1 &
server_pid=$!

for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  fail "the server did not start"
  cat "$work/pulseaudio.out" "$work/pulseaudio.log" >&2 2>/dev/null || true
  exit 1
fi
pass "server running, pid $server_pid"

sinks=$(pactl list short sinks)
for sink in kavra1 kavra2; do
  if awk -v s="$sink" '$2 == s { found = 1 } END { exit !found }' <<<"$sinks"; then
    pass "sink $sink"
  else
    fail "sink $sink is missing"; echo "$sinks" >&2; exit 1
  fi
done

# ---- Audio through the server -------------------------------------------------------------------
# A 1000 Hz square wave, 48000 Hz mono s16le, 12 s: 24 samples at +8192, 24 at -8192.
tone=$work/tone.raw
for _ in $(seq 12000); do
  printf '\x00\x20%.0s' {1..24}
  printf '\x00\xe0%.0s' {1..24}
done >"$tone"

raw=(--raw --format=s16le --rate=48000 --channels=1)

# The largest absolute sample of a raw s16le file (0 when empty).
peak() { od -An -v -td2 -w2 "$1" | awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m + 0 }'; }

start_tone() {  # SINK: plays the tone into SINK in the background
  pacat --playback "${raw[@]}" --device="$1" <"$tone" >/dev/null 2>&1 &
  tone_pid=$!
  background+=("$tone_pid")
  sleep 0.3
}
stop_tone() { kill "$tone_pid" 2>/dev/null || true; wait "$tone_pid" 2>/dev/null || true; }

start_tone kavra1
timeout -s INT 1.5 parecord "${raw[@]}" --device=kavra1.monitor >"$work/monitor.raw" 2>/dev/null || true
stop_tone
level=$(peak "$work/monitor.raw")
if [ "$(stat -c %s "$work/monitor.raw")" -gt 48000 ] && [ "$level" -gt 4000 ]; then
  pass "tone into kavra1 heard on kavra1.monitor (peak $level)"
else
  fail "tone into kavra1 not heard on kavra1.monitor (peak $level, $(stat -c %s "$work/monitor.raw") bytes)"
fi

# ---- The PortAudio adapter on the server --------------------------------------------------------
run_platform_test() {  # NAME LOG [VAR=VALUE...]: one platform test that must run, not skip
  local name=$1 log=$2
  shift 2
  if env "$@" "$platform_tests" --gtest_filter="$name" >"$log" 2>&1 &&
     grep -q '\[  PASSED  \] 1 test' "$log" && ! grep -q '\[  SKIPPED \]' "$log"; then
    return 0
  fi
  grep -E '^\[|Failure|Expected|Which is|actual' "$log" >&2 || tail -20 "$log" >&2
  return 1
}

start_tone kavra1
if run_platform_test PortAudioSoundOnServer.CaptureFillsTheLoopingBuffer "$work/capture-test.log" \
     PULSE_SOURCE=kavra1.monitor KAVRA_EXPECT_TONE=1; then
  pass "PortAudio capture on \"ALSA: pulse\" from kavra1.monitor: position advances, tone in the samples"
else
  fail "PortAudio capture on \"ALSA: pulse\" (log: $work/capture-test.log)"
fi
stop_tone

timeout -s INT 6 parecord "${raw[@]}" --device=kavra2.monitor >"$work/bursts.raw" 2>/dev/null &
record_pid=$!
background+=("$record_pid")
sleep 0.3
if run_platform_test PortAudioSoundOnServer.BurstsPlayOnceAndEnd "$work/playback-test.log" PULSE_SINK=kavra2; then
  pass "PortAudio playback on \"ALSA: pulse\" into kavra2: bursts at 48000 and 8000 Hz end on time"
else
  fail "PortAudio playback on \"ALSA: pulse\" (log: $work/playback-test.log)"
fi
kill -INT "$record_pid" 2>/dev/null || true
wait "$record_pid" 2>/dev/null || true
level=$(peak "$work/bursts.raw")
if [ "$level" -gt 4000 ]; then
  pass "the bursts were heard on kavra2.monitor (peak $level)"
else
  fail "the bursts were not heard on kavra2.monitor (peak $level)"
fi

if run_platform_test PortAudioSoundOnServer.APlayedBurstIsCapturedUnchanged "$work/loop-test.log" \
     PULSE_SINK=kavra1 PULSE_SOURCE=kavra1.monitor; then
  pass "PortAudio playback into kavra1 comes back unchanged through PortAudio capture of kavra1.monitor"
else
  fail "PortAudio playback and capture through kavra1 (log: $work/loop-test.log)"
fi

# ---- Two stations on the air ------------------------------------------------------------------
if [ $server_only -eq 0 ] && [ $failed -eq 0 ]; then
  for cs in KAVRA1 KAVRA2; do
    # The device strings are the descriptions PortAudioSound gives ALSA's "pulse" device.
    cat >"$work/$cs.ini" <<EOF
[General]
CALLSIGN=$cs
CaptureDevice=ALSA: pulse
PlaybackDevice=ALSA: pulse
EOF
  done
  cat >"$work/KAVRA1.script" <<EOF
wait 2
connect KAVRA2
wait 40
say hello over pulse
wait 30
disconnect
wait 5
quit
EOF
  printf 'wait 110\nquit\n' >"$work/KAVRA2.script"

  station_run() {  # CALLSIGN SINK SOURCE
    PULSE_SINK=$2 PULSE_SOURCE=$3 exec timeout -s INT 150 "$station" --headless --settings "$work/$1.ini" \
      --callsign "$1" --air portaudio --answer yes --script "$work/$1.script" --until 120 \
      >"$work/$1.out" 2>"$work/$1.err"
  }
  station_run KAVRA2 kavra2 kavra1.monitor &
  k2_pid=$!
  background+=("$k2_pid")
  station_run KAVRA1 kavra1 kavra2.monitor &
  k1_pid=$!
  background+=("$k1_pid")
  k1_status=0; wait "$k1_pid" || k1_status=$?
  # KAVRA2 only listens: once KAVRA1 is done and the line has arrived (or 15 s later), stop it.
  for _ in $(seq 150); do
    grep -q 'abonent:.*hello over pulse' "$work/KAVRA2.out" && break
    kill -0 "$k2_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -INT "$k2_pid" 2>/dev/null || true
  k2_status=0; wait "$k2_pid" || k2_status=$?
  echo "pulse-test: KAVRA1 exit $k1_status, KAVRA2 exit $k2_status"
  if grep -E 'abonent:.*hello over pulse' "$work/KAVRA2.out"; then
    pass "KAVRA2 received KAVRA1's chat line over PulseAudio"
  else
    fail "KAVRA2 did not receive \"hello over pulse\""
    for cs in KAVRA1 KAVRA2; do echo "--- $cs"; cat "$work/$cs.out"; done >&2
  fi
fi

# ---- The server stops by its pid ----------------------------------------------------------------
kill "$server_pid"
for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$server_pid" 2>/dev/null; then
  fail "the server (pid $server_pid) did not stop"
else
  wait "$server_pid" 2>/dev/null || true
  pass "server stopped"
  server_pid=""
fi

[ $failed -eq 0 ] && echo "pulse-test: all checks passed"
exit $failed
