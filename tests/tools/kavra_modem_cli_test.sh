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

echo "$pass passed, $failures failed"
[ $failures -eq 0 ]
