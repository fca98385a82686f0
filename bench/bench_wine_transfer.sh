#!/usr/bin/env bash
# The same update through the Linux matrixctl and through matrixctl.exe under Wine, side by
# side in one run, against one simulated device paced at 9600 baud. Each send is timed from
# the device's first record to its end-of-transfer byte, so that Wine's start-up does not
# count; the two programs take turns, so that a busy machine slows both alike. Target: the
# Windows build within 1.05 x the Linux build per record. A missed target is printed; the
# exit status is not 0 only when a send did not finish.
# Usage: bench/bench_wine_transfer.sh LINUX_BIN_DIR WINDOWS_BIN_DIR [ROUNDS] [RECORDS]
#        (WINEPREFIX: the prefix to run in; defaults 3 rounds of 300 records)
set -euo pipefail
bin=$(realpath "${1:?Linux bin folder}")
winbin=$(realpath "${2:?Windows bin folder}")
rounds=${3:-3}
records=${4:-300}
: "${WINEPREFIX:?the Wine prefix to run in}"
export WINEDEBUG=-all
cd "$(dirname "$0")/.."

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"

# The sample's records, repeated to the length asked for.
sample_records=$(( $(stat -c %s res/sample.bin) / 12 ))
for _ in $(seq 1 $(( (records + sample_records - 1) / sample_records ))); do cat res/sample.bin; done |
  head -c $(( records * 12 )) > "$work/bench.bin"
winfile="Z:$(realpath "$work/bench.bin" | sed 's|/|\\|g')"

# One device for every send: it stays up between transfers, logging each record on stderr.
mkfifo "$work/sim.out" "$work/sim.log"
"$bin/matrixctl" simulate --port 8 --pace 9600 > "$work/sim.out" 2> "$work/sim.log" &
sim_pid=$!
exec 7< "$work/sim.out" 8< "$work/sim.log"
read -r -t 10 first <&7 || { echo "bench_wine_transfer: the simulator did not start" >&2; exit 2; }
pty=${first#COM8 }
# Wine reads its port mapping when its server starts.
wine reg add 'HKLM\Software\Wine\Ports' /v COM8 /d "$pty" /f < /dev/null > /dev/null 2>&1
wineserver -k < /dev/null > /dev/null 2>&1 || true
wineserver -p < /dev/null > /dev/null 2>&1
wineboot < /dev/null > /dev/null 2>&1

# run_once linux|wine: prints the milliseconds per record of one send.
run_once() {
  local side=$1 line t_first="" t_end="" status
  if [ "$side" = linux ]; then
    "$bin/matrixctl" send --quiet --port 8 "$work/bench.bin" > "$work/send.out" 2>&1 &
  else
    wine "$winbin/matrixctl.exe" send --quiet --port 8 "$winfile" < /dev/null > "$work/send.out" 2>&1 &
  fi
  local send_pid=$!
  while IFS= read -r -t 120 line <&8; do
    case $line in
      "record "*) [ -n "$t_first" ] || t_first=$EPOCHREALTIME ;;
      *"end of transfer"*) t_end=$EPOCHREALTIME; break ;;
    esac
  done
  set +e; wait "$send_pid"; status=$?; set -e
  if [ "$status" != 0 ] || [ -z "$t_first" ] || [ -z "$t_end" ]; then
    echo "bench_wine_transfer: the $side send did not finish (status $status):" >&2
    tr -d '\r' < "$work/send.out" >&2
    return 1
  fi
  # From the first record to the end byte: records - 1 records and the end byte's exchange.
  awk -v a="$t_first" -v b="$t_end" -v n="$records" 'BEGIN { printf "%.2f", (b - a) * 1000 / n }'
}

median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

linux_runs=""
wine_runs=""
for round in $(seq 1 "$rounds"); do
  l=$(run_once linux)
  w=$(run_once wine)
  echo "round $round: Linux $l ms/record, Wine $w ms/record"
  linux_runs="$linux_runs $l"
  wine_runs="$wine_runs $w"
done
l=$(echo $linux_runs | median)
w=$(echo $wine_runs | median)
awk -v l="$l" -v w="$w" -v n="$records" -v r="$rounds" 'BEGIN {
  ratio = w / l
  printf "%d records paced at 9600 baud, median of %d rounds: Linux %.2f ms/record, Wine %.2f ms/record, %.3f x: ", n, r, l, w, ratio
  if (ratio <= 1.05) print "target (at most 1.05 x) met"
  else print "target (at most 1.05 x) MISSED"
}'
