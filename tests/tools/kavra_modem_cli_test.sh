#!/usr/bin/env bash
# Runs kavra-modem as a user would and checks its contract.
set -u
tool=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
pass=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { pass=$((pass + 1)); }

# WAV header fields: rate, channels, bits, data bytes.
wav_field() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
wav_short() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }

head -c 65 /dev/urandom > msg.bin
: > empty.bin

# A good transmission: rate, format and exact length.
check_wav() {  # file rate samples [slack]
  [ "$(wav_field "$1" 24)" = "$2" ] || { fail "$1: rate $(wav_field "$1" 24), expected $2"; return; }
  [ "$(wav_short "$1" 22)" = 1 ] || { fail "$1: not mono"; return; }
  [ "$(wav_short "$1" 34)" = 16 ] || { fail "$1: not 16-bit"; return; }
  local samples=$(( ($(stat -c %s "$1") - 44) / 2 )) slack=${4:-0}
  [ $((samples - $3)) -le "$slack" ] && [ $(($3 - samples)) -le "$slack" ] ||
    { fail "$1: $samples samples, expected $3 (+-$slack)"; return; }
  ok
}
"$tool" tx --type 0 --mode 0 -i msg.bin -o a.wav 2>/dev/null && check_wav a.wav 48000 86400 || fail "type 0 mode 0"
"$tool" tx --type 0 --mode 1 -i msg.bin -o b.wav 2>/dev/null && check_wav b.wav 48000 345600 || fail "type 0 mode 1"
"$tool" tx --type 1 --mode 0 -i msg.bin -o c.wav 2>/dev/null && check_wav c.wav 48000 $((4320 * 24)) || fail "type 1 48k"
"$tool" tx --type 1 --mode 0 --play-rate 8000 -i msg.bin -o d.wav 2>/dev/null && check_wav d.wav 8000 $((4320 * 4)) || fail "type 1 8k"
"$tool" tx --type 0 --mode 4 -i empty.bin -o e.wav 2>/dev/null && check_wav e.wav 48000 $((4320 * 20)) || fail "empty message"
"$tool" tx --type 0 --mode 0 < msg.bin > f.wav 2>/dev/null && cmp -s a.wav f.wav && ok || fail "stdin/stdout differs from files"
"$tool" tx --type 0 --mode 0 --card-rate 48048 -i msg.bin -o g.wav 2>/dev/null && check_wav g.wav 48000 86486 2 || fail "card rate 48048"

# Every wrong argument or input: exit code 2, one line on stderr, no output file.
bad() {
  rm -f out.wav
  "$tool" "$@" -o out.wav > /dev/null 2> err.txt
  local rc=$?
  if [ $rc -ne 2 ]; then fail "exit $rc for: $*"; return; fi
  if [ "$(wc -l < err.txt)" -ne 1 ]; then fail "not one line for: $* ($(cat err.txt))"; return; fi
  if ls out.wav* > /dev/null 2>&1; then fail "output left behind for: $*"; return; fi
  ok
}
bad tx --type 2 --mode 0 -i msg.bin
bad tx --type 0 --mode 6 -i msg.bin
bad tx --type 0 --mode -1 -i msg.bin
bad tx --type 0 --mode 0 --play-rate 8000 -i msg.bin
bad tx --type 1 --mode 0 --play-rate 44100 -i msg.bin
bad tx --type 0 --mode 0 --card-rate 0 -i msg.bin
bad tx --type 0 --mode 0 --card-rate -48000 -i msg.bin
bad tx --type 0 --mode 0 --card-rate 96000 -i msg.bin
bad tx --type 0 --mode 0 --carrier 0 -i msg.bin
bad tx --type 0 --mode 0 --carrier 4001 -i msg.bin
bad tx --type zero --mode 0 -i msg.bin
bad tx --mode 0 -i msg.bin
bad tx --type 0 -i msg.bin
bad tx --type 0 --mode 0 -i missing.bin
bad tx --type 0 --mode 0 -i .
bad tx --type 0 --mode 0 --no-such-option -i msg.bin
bad nonsense
rm -f out.wav
"$tool" tx --type 0 --mode 0 -i msg.bin -o no/such/folder/x.wav 2> err.txt; rc=$?
[ $rc -eq 2 ] && [ "$(wc -l < err.txt)" -eq 1 ] && ok || fail "unwritable output: exit $rc"
"$tool" tx --type 0 --mode 0 -i msg.bin > /dev/full 2> err.txt; rc=$?
[ $rc -eq 2 ] && ok || fail "full standard output: exit $rc"
"$tool" tx --help > help.txt && grep -q -- '--card-rate' help.txt && ok || fail "tx --help"

# channel: lengths and rates, repeatability, streams, and its wrong arguments.
"$tool" channel -i a.wav -o ch1.wav 2>/dev/null && check_wav ch1.wav 48000 86400 || fail "channel plain"
"$tool" channel --rate 8000 -i a.wav -o ch2.wav 2>/dev/null && check_wav ch2.wav 8000 14400 || fail "channel to 8000"
"$tool" channel --rate 48000 -i d.wav -o ch3.wav 2>/dev/null && check_wav ch3.wav 48000 $((4320 * 4 * 6)) || fail "channel 8000 to 48000"
"$tool" channel --clock-ppm 1000 -i a.wav -o ch4.wav 2>/dev/null && check_wav ch4.wav 48000 86314 || fail "channel clock offset"
"$tool" channel --fading poor --snr 10 --freq-offset 3 --seed 9 -i a.wav -o ch5.wav 2>/dev/null && check_wav ch5.wav 48000 86400 || fail "channel everything"
"$tool" channel --fading poor --snr 10 --freq-offset 3 --seed 9 < a.wav > ch6.wav 2>/dev/null && cmp -s ch5.wav ch6.wav && ok || fail "channel: same seed, or stdin/stdout, gives other samples"
"$tool" channel --fading poor --snr 10 --freq-offset 3 --seed 10 -i a.wav -o ch7.wav 2>/dev/null && ! cmp -s ch5.wav ch7.wav && ok || fail "channel: another seed gives the same samples"
"$tool" channel --delay 1.3 --spread 3 --snr 20 -i a.wav -o ch8.wav 2> err.txt && check_wav ch8.wav 48000 86400 || fail "channel free fading"
grep -q "1.3 ms, 3 Hz" err.txt && grep -q "SNR 20 dB in 3 kHz" err.txt && ok || fail "channel summary line: $(cat err.txt)"
"$tool" channel --fading flutter --spread 5 -i a.wav -o ch9.wav 2> err.txt && grep -q "flutter (0.5 ms, 5 Hz)" err.txt && ok || fail "channel preset override"
"$tool" channel -i e.wav -o /dev/null 2>/dev/null && ok || fail "channel on an empty-message burst"
"$tool" tx --type 0 --mode 0 -i empty.bin 2>/dev/null | head -c 44 > silent.wav
"$tool" channel --snr 10 --signal-rms 1000 -i silent.wav -o ch10.wav 2>/dev/null && check_wav ch10.wav 48000 0 || fail "channel on an empty WAV"
"$tool" channel --snr 0 --gain 20 -i a.wav -o ch11.wav 2> err.txt && grep -q "[1-9][0-9]* samples clipped" err.txt && ok || fail "channel: clipping not reported ($(cat err.txt))"
cp a.wav rate44k.wav
printf '\x44\xac\x00\x00\x88\x58\x01\x00' | dd of=rate44k.wav bs=1 seek=24 conv=notrunc 2>/dev/null
head -c 44 a.wav > zeros.wav && head -c 96000 /dev/zero >> zeros.wav
printf '\x24\x77\x01\x00' | dd of=zeros.wav bs=1 seek=4 conv=notrunc 2>/dev/null
printf '\x00\x77\x01\x00' | dd of=zeros.wav bs=1 seek=40 conv=notrunc 2>/dev/null
"$tool" channel --snr 10 -i zeros.wav -o ch12.wav 2>/dev/null; [ $? -eq 2 ] && ok || fail "channel: noise on silence without --signal-rms"
"$tool" channel --snr 10 --signal-rms 5000 -i zeros.wav -o ch12.wav 2>/dev/null && check_wav ch12.wav 48000 48000 || fail "channel: noise on silence"
bad channel --fading awful -i a.wav
bad channel --fading none --delay 1 -i a.wav
bad channel --delay 1 -i a.wav
bad channel --spread 1 -i a.wav
bad channel --delay 11 --spread 1 -i a.wav
bad channel --delay -1 --spread 1 -i a.wav
bad channel --fading poor --spread 0 -i a.wav
bad channel --fading poor --spread 60 -i a.wav
bad channel --snr 200 -i a.wav
bad channel --snr abc -i a.wav
bad channel --snr nan -i a.wav
bad channel --signal-rms 0 --snr 3 -i a.wav
bad channel --freq-offset 600 -i a.wav
bad channel --clock-ppm 60000 -i a.wav
bad channel --rate 44100 -i a.wav
bad channel --gain 100 -i a.wav
bad channel --seed -1 -i a.wav
bad channel -i missing.wav
bad channel -i .
bad channel -i msg.bin
bad channel -i rate44k.wav
bad channel --snr 10 -i zeros.wav
"$tool" channel -i a.wav > /dev/full 2> err.txt; rc=$?
[ $rc -eq 2 ] && ok || fail "channel: full standard output: exit $rc"
"$tool" channel --help > help.txt && grep -q -- '3000 Hz' help.txt && grep -q -- '--clock-ppm' help.txt && ok || fail "channel --help"

# rx: decodes what tx wrote, for every mode and both types; refuses what it cannot read.
head -c 300 /dev/urandom > rt.bin
for type in 0 1; do
  for mode in 0 1 2 3 4 5; do
    "$tool" tx --type $type --mode $mode -i rt.bin -o rt.wav 2>/dev/null
    "$tool" rx --type $type -i rt.wav -o rt.out --report rt.json 2>/dev/null &&
      cmp -s rt.bin rt.out && grep -q "\"mode\":$mode," rt.json && ok || fail "rx round trip type $type mode $mode"
  done
done
"$tool" tx --type 1 --mode 2 --play-rate 8000 -i rt.bin -o rt8k.wav 2>/dev/null
"$tool" channel --rate 48000 -i rt8k.wav -o rt48k.wav 2>/dev/null
"$tool" rx --type 1 < rt48k.wav > rt.out 2>/dev/null && cmp -s rt.bin rt.out && ok || fail "rx of type 1 played at 8000 Hz"
"$tool" rx --type 0 -i zeros.wav -o none.out --report none.json 2>/dev/null && [ ! -s none.out ] && [ ! -s none.json ] && ok ||
  fail "rx of silence: no frame, exit 0"
cp a.wav stereo.wav
printf '\x02\x00' | dd of=stereo.wav bs=1 seek=22 conv=notrunc 2>/dev/null
cp a.wav eightbit.wav
printf '\x08\x00' | dd of=eightbit.wav bs=1 seek=34 conv=notrunc 2>/dev/null
bad rx --type 1 -i rt8k.wav
bad rx --type 0 -i rate44k.wav
bad rx --type 0 -i stereo.wav
bad rx --type 0 -i eightbit.wav
bad rx --type 0 -i msg.bin
bad rx --type 0 -i missing.wav
bad rx --type 2 -i a.wav
bad rx -i a.wav
bad rx --type 0 --card-rate 0 -i a.wav
bad rx --type 0 --carrier 4000 -i a.wav
"$tool" rx --help > help.txt && grep -q -- '--report' help.txt && ok || fail "rx --help"

# ber: a tiny sweep end to end, its outputs, repeatability, and its wrong arguments.
ber_fields() { cut -d, -f1-33 "$1"; }  # every column but the cpu time
"$tool" ber --type 0 --modes 4 --snr 20 --max-bits 7040 --csv ber1.csv --json ber1.json --svg ber1.svg 2> err.txt &&
  [ "$(wc -l < ber1.csv)" -eq 2 ] && head -1 ber1.csv | grep -q '^type,channel,mode,mode_name,snr_db' &&
  grep -q '^0,awgn,4,600 short,20,0,1,7040,0,' ber1.csv && ok || fail "ber: one point ($(cat err.txt))"
grep -q '"bit_errors": 0' ber1.json && grep -q '"crossings"' ber1.json && ok || fail "ber: JSON report"
head -c 4 ber1.svg | grep -q '<svg' && tail -1 ber1.svg | grep -q '</svg>' && grep -q 'polyline' ber1.svg && ok || fail "ber: SVG plot"
grep -q "600 short" err.txt && ok || fail "ber: progress line"
"$tool" ber --type 0 --modes 4 --snr 20 --max-bits 7040 --threads 1 > ber2.csv 2>/dev/null &&
  [ "$(ber_fields ber1.csv)" = "$(ber_fields ber2.csv)" ] && ok || fail "ber: one thread and standard output give other figures"
"$tool" ber --type 0 --modes 4 --snr 20 --max-bits 7040 --seed 5 > ber3.csv 2>/dev/null &&
  [ "$(wc -l < ber3.csv)" -eq 2 ] && ok || fail "ber: another seed"
"$tool" ber --type 1 --modes 2 --snr 30 --ideal --max-bits 3000 > ber4.csv 2>/dev/null &&
  grep -q '^1,awgn,2,1000 short,30,0,1,' ber4.csv && ok || fail "ber: ideal reference"
"$tool" ber --type 0 --noise-only 5 --json noise.json 2> err.txt && grep -q '"frames": 0' noise.json &&
  grep -q "0 decoded frames" err.txt && ok || fail "ber: noise only ($(cat err.txt))"
"$tool" ber --help > help.txt && grep -q 'never received' help.txt && grep -q '3000 Hz' help.txt && ok || fail "ber --help"
bad_ber() {
  rm -f out.csv out.json
  "$tool" ber "$@" --csv out.csv --json out.json > /dev/null 2> err.txt
  local rc=$?
  if [ $rc -ne 2 ]; then fail "exit $rc for: ber $*"; return; fi
  if [ "$(wc -l < err.txt)" -ne 1 ]; then fail "not one line for: ber $* ($(cat err.txt))"; return; fi
  if ls out.csv* out.json* > /dev/null 2>&1; then fail "output left behind for: ber $*"; return; fi
  ok
}
bad_ber --type 2
bad_ber --modes 0
bad_ber --type 0 --modes 6
bad_ber --type 1 --modes 12
bad_ber --type 0 --modes 0,0
bad_ber --type 0 --modes 0,x
bad_ber --type 0 --snr 5,3
bad_ber --type 0 --snr abc
bad_ber --type 0 --snr 1:0:1
bad_ber --type 0 --snr 0:10:0
bad_ber --type 0 --snr 0:1:2:3
bad_ber --type 0 --snr 99
bad_ber --type 0 --channel awful
bad_ber --type 0 --delay 1
bad_ber --type 0 --channel poor --spread 0
bad_ber --type 0 --freq-offset 500
bad_ber --type 0 --max-bits 10
bad_ber --type 0 --threads 0
bad_ber --type 0 --blocks 101
bad_ber --type 0 --ideal --channel poor
bad_ber --type 0 --ideal --modes 12
bad_ber --type 0 --noise-only 0
rm -f out.csv
"$tool" ber --type 0 --modes 4 --snr 20 --max-bits 7040 --json - > /dev/null 2> err.txt; rc=$?
[ $rc -eq 2 ] && [ "$(wc -l < err.txt)" -eq 1 ] && ok || fail "ber: --json - with the CSV on standard output: exit $rc"
"$tool" ber --type 0 --modes 4 --snr 20 --max-bits 7040 --csv no/such/folder/x.csv 2> err.txt; rc=$?
[ $rc -eq 2 ] && ok || fail "ber: unwritable CSV: exit $rc"

echo "$pass passed, $failures failed"
[ $failures -eq 0 ]
