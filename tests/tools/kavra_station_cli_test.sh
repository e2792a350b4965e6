#!/usr/bin/env bash
# Runs kavra-station --headless as an operator would and checks its contract: refusals, a
# scripted session on WAV air whose recording decodes to the expected blocks, and two stations in
# two processes coupled over stream air.
set -u
station=$(realpath "$1")
modem=$(realpath "$2")
pair=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 - <<'PY'
import wave
for name, rate in (("silence.wav", 48000), ("rate8k.wav", 8000)):
    w = wave.open(name, "wb"); w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(b"\0\0" * rate); w.close()
PY
echo "not a wav" > junk.wav
printf 'quit\n' > quit.txt

# Refusals: exit code 2, one line on stderr.
refused() {
  local err
  err=$("$station" "$@" 2>&1 >/dev/null)
  local code=$?
  [ $code -eq 2 ] || { fail "exit $code, expected 2: $*"; return; }
  [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [ -n "$err" ] || fail "not one line on stderr: $* -> $err"
}
refused --headless --air wav --capture silence.wav --playback o.wav --script quit.txt       # no callsign anywhere
refused --headless --callsign TOOLONGCALL --air wav --capture silence.wav --playback o.wav --script quit.txt
refused --headless --callsign K1 --air wav --capture missing.wav --playback o.wav --script quit.txt
refused --headless --callsign K1 --air wav --capture junk.wav --playback o.wav --script quit.txt
refused --headless --callsign K1 --air wav --capture rate8k.wav --playback o.wav --script quit.txt
refused --headless --callsign K1 --air wav --capture silence.wav --script quit.txt          # no playback
refused --headless --callsign K1 --air carrier-pigeon
refused --headless --callsign K1 --modem-type 2
refused --headless --callsign K1 --air wav --capture silence.wav --playback o.wav --script missing.txt
refused --headless --callsign K1 --frobnicate
DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= refused --callsign K1                               # no display for the desktop
refused --headless --demo --callsign K1
refused --callsign K1 --air wav --capture silence.wav --playback o.wav                         # file air is headless only
[ ! -e o.wav ] || fail "a refused run left o.wav"
"$station" --help | grep -q -- "--headless" || fail "--help does not describe --headless"

# A scripted session on WAV air: two calls on the recording, an unknown command logged as an
# error, nothing lost; the same input gives the same output.
printf 'connect KAVRA2\nfrobnicate now\nsay nobody hears this\nwait 20\nquit\n' > call.txt
"$station" --headless --settings s.ini --callsign KAVRA1 --modem-type 0 --air wav --capture silence.wav \
  --playback call.wav --script call.txt > call.log 2>&1 || fail "WAV session exited $?"
grep -q "error: unknown command 'frobnicate'" call.log || fail "unknown command not reported: $(cat call.log)"
grep -q "error: say: the line was not sent" call.log || fail "chat without a link not reported"
grep -q "system: Connecting to 'KAVRA2'..." call.log || fail "no call in the log"
"$modem" rx --type 0 -i call.wav -o call.bin --report call.jsonl 2>/dev/null || fail "rx of the recording failed"
[ "$(grep -c '"mode_name":"600 short"' call.jsonl)" -eq 2 ] || fail "expected two 600 short frames: $(cat call.jsonl)"
[ "$(stat -c %s call.bin)" -eq 130 ] || fail "expected two 65-byte blocks, got $(stat -c %s call.bin) bytes"
od -An -c -j 2 -N 6 call.bin | tr -d ' \n' | grep -q KAVRA2 || fail "the call block does not name KAVRA2"
"$station" --headless --settings s.ini --callsign KAVRA1 --modem-type 0 --air wav --capture silence.wav \
  --playback again.wav --script call.txt > /dev/null 2>&1
cmp -s call.wav again.wav || fail "WAV air on virtual time is not repeatable"
[ -s s.ini ] || fail "the settings file s.ini was not written"

# Two processes over stream air: a call, a chat line each way, a disconnect.
printf 'wait 1\nconnect KAVRA2\nwait 25\nsay hello over the stream\nwait 40\ndisconnect\nwait 20\nquit\n' > one.txt
printf 'wait 40\nsay and back again\nwait 100\nquit\n' > two.txt
"$pair" --station "$station" --dir pair one.txt two.txt > pair.log 2>&1 || fail "stream pair exited $?"
grep -q "abonent: KAVRA1: hello over the stream" pair/KAVRA2.log || fail "KAVRA2 did not hear KAVRA1: $(cat pair.log)"
grep -q "abonent: KAVRA2: and back again" pair/KAVRA1.log || fail "KAVRA1 did not hear KAVRA2"
grep -q "Disconnected from 'KAVRA1'" pair/KAVRA2.log || fail "no disconnect at KAVRA2"

if [ $failures -eq 0 ]; then echo "kavra-station contract: all checks passed"; else echo "$failures check(s) failed"; exit 1; fi
