#!/usr/bin/env bash
# Two headless stations in two processes, coupled over stream air by two FIFOs (a plain copy:
# what one plays, the other hears), on virtual time.  Each runs its operator script; the run ends
# when either script quits.  Prints both transcripts.
#
#   scripts/stream-pair.sh [--station BIN] [--type 0|1] [--dir DIR] SCRIPT1 SCRIPT2
#
# SCRIPT1 belongs to KAVRA1, SCRIPT2 to KAVRA2 (operator commands, one per line).  The transcripts
# are left in DIR/KAVRA1.log and DIR/KAVRA2.log; each station works in DIR/KAVRA1 or DIR/KAVRA2.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
station=$here/build/bin/kavra-station
type=0
dir=$(mktemp -d)
while [ $# -gt 2 ]; do
  case $1 in
    --station) station=$2; shift 2 ;;
    --type) type=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "stream-pair.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -eq 2 ] || { echo "usage: stream-pair.sh [--station BIN] [--type 0|1] [--dir DIR] SCRIPT1 SCRIPT2" >&2; exit 2; }
script1=$(realpath "$1")
script2=$(realpath "$2")
mkdir -p "$dir/KAVRA1" "$dir/KAVRA2"
rm -f "$dir/one-to-two" "$dir/two-to-one"
mkfifo "$dir/one-to-two" "$dir/two-to-one"
(cd "$dir/KAVRA2" && exec "$station" --headless --callsign KAVRA2 --modem-type "$type" --air stream \
   --capture ../one-to-two --playback ../two-to-one --script "$script2" > ../KAVRA2.log 2>&1) &
two=$!
status=0
(cd "$dir/KAVRA1" && exec "$station" --headless --callsign KAVRA1 --modem-type "$type" --air stream \
   --capture ../two-to-one --playback ../one-to-two --script "$script1" > ../KAVRA1.log 2>&1) || status=$?
wait "$two" || status=$?
echo "== KAVRA1"; cat "$dir/KAVRA1.log"
echo "== KAVRA2"; cat "$dir/KAVRA2.log"
exit "$status"
