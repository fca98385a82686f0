#!/usr/bin/env bash
# matrixctl.exe in a console under Wine, as a Traditional Chinese Windows has it (code page
# 950): the Chinese lines arrive readable, the progress bar is drawn without stray escape
# sequences, and a 300-record send in the console takes about as long as the same send into a
# file (both times printed, timed by the device, best of three; a miss is reported, never a
# failure: timing belongs to benchmarks).
#
# Wine's console, started on a pseudo-terminal, keeps a screen buffer and draws it onto the
# terminal with sequences of its own; what is checked is that drawing, read back from the
# terminal. What Wine cannot show: a real Windows console window (its fonts, its own handling of
# the sequences), and a console that refuses terminal sequences outright (Wine's takes the mode
# and prints them, which is what the program detects and then draws the bar with a carriage
# return and spaces; a Windows console of today acts on them).
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
command -v script >/dev/null || { echo "SKIP: script (util-linux) is needed for a console on a terminal" >&2; exit 77; }
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

# One device for every run, mapped as COM7; the server is restarted once to read the mapping.
# What the device logs is stamped with the time it arrived, so that a send is timed by the
# device: from its first record to its end-of-transfer byte.
mkfifo "$work/sim.out" "$work/sim.err"
while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done < "$work/sim.err" > "$work/sim.log" &
"$bin/matrixctl" simulate --port 7 --reply ok > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
exec 7< "$work/sim.out"
read -r -t 10 first <&7 || fail "simulator did not start"
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "${first#COM7 }" /f < /dev/null > /dev/null 2>&1 ||
  fail "cannot map COM7"
wineserver -k < /dev/null > /dev/null 2>&1 || true
wineserver -p < /dev/null > /dev/null 2>&1
wineboot < /dev/null > /dev/null 2>&1

printf 'x,y,i1,i2,i3\n1.5,2.25,1,2,3\n10.125,-3.5,4,5,6\n0,0,0,0,0\n' > "$work/three.csv"
"$bin/matrixctl" pattern encode "$work/three.csv" "$work/three.bin"
for i in $(seq 1 300); do echo "$((i % 30)).5,-$((i % 30)).25,$((i % 200)),$((i % 100)),$((i % 50))"; done > "$work/many.csv"
"$bin/matrixctl" pattern encode "$work/many.csv" "$work/many.bin"

# batch NAME ARGS...: a batch file that switches the console to code page 950 and runs
# matrixctl.exe with ARGS, then tells its exit status.
batch() {
  local name=$1; shift
  printf '@chcp 950 > nul\r\n@"%s" %s\r\n@echo status %%ERRORLEVEL%%\r\n' "$(winpath "$winbin/matrixctl.exe")" "$*" \
    > "$work/$name.bat"
}
# in_console NAME: runs the batch file in a console on a terminal 50 columns wide; what the
# terminal received lands in NAME.tty.
in_console() {
  timeout -s KILL 120 script -qfec "stty cols 50 rows 24; wine cmd /c $(printf '%q' "$(winpath "$work/$1.bat")")" \
    /dev/null < /dev/null > "$work/$1.tty"
}
# shown NAME: the console's drawing as text: its own sequences taken out (a cursor move right
# stands for spaces), each carriage return a line of its own.
shown() {
  sed 's/\x1b\[\([0-9]*\)C/ /g; s/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/$1.tty" | tr '\r' '\n' | sed '/^ *$/d'
}

closing="請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新"
final="點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 3 行資料..."

# The terminal's way: the bar and the lines that matter, in Chinese, readable at code page 950.
batch plain send --port 7 "$(winpath "$work/three.bin")"
in_console plain || fail "the console run did not end"
shown plain > "$work/plain.lines"
grep -qxF "status 0" "$work/plain.lines" || { cat "$work/plain.lines" >&2; fail "send in the console failed"; }
grep -qxF "$final" "$work/plain.lines" || { cat -A "$work/plain.tty" >&2; fail "the final text is not readable in the console"; }
grep -qxF "$closing" "$work/plain.lines" || fail "the closing instruction is not readable in the console"
grep -q '^\[#*\] 3/3 records  100%' "$work/plain.lines" || { cat "$work/plain.lines" >&2; fail "no full progress bar in the console"; }
# Stray sequences: an escape character that is no whole sequence, or the text of one ("[K")
# printed as characters.
! grep -q $'\x1b\|\[K\|\[0m\|←' "$work/plain.lines" || { cat -A "$work/plain.tty" >&2; fail "stray escape sequences in the console"; }
while IFS= read -r line; do
  [[ $line == \[* ]] || continue
  [ "${#line}" -le 49 ] || fail "the bar takes ${#line} columns of the console's 50: $line"
done < "$work/plain.lines"

# Every status line with --verbose, just as readable.
batch verbose send -v --port 7 "$(winpath "$work/three.bin")"
in_console verbose || fail "the verbose console run did not end"
shown verbose > "$work/verbose.lines"
for want in "傳送第1/3筆" "傳送第1筆資料回應OK" "$final" "$closing"; do
  grep -qxF "$want" "$work/verbose.lines" || { cat -A "$work/verbose.tty" >&2; fail "not readable in the console: $want"; }
done

# Into a file: UTF-8 with Windows line ends, every line; /? is the help.
wine "$winbin/matrixctl.exe" send --port 7 "$(winpath "$work/three.bin")" > "$work/file.out" 2> /dev/null < /dev/null ||
  fail "send into a file failed"
grep -qxF "傳送第2筆資料回應OK"$'\r' "$work/file.out" || { od -c "$work/file.out" | head >&2; fail "the file is not UTF-8 with CRLF"; }
wine "$winbin/matrixctl.exe" '/?' < /dev/null 2>&1 | tr -d '\r' | grep -q '^usage: matrixctl COMMAND' || fail "/? is no help"

# 300 records in the console and into a file, the same command: seconds from the device's first
# record to its end-of-transfer byte, so that what Wine takes to start a console (about a second
# on a loaded machine, and no part of the send) does not count; the best of three runs each,
# taken in turns (the machine is shared: the best run is the one least disturbed).
batch many send --port 7 "$(winpath "$work/many.bin")"
# device_time FROM_LINE: seconds between the first record and the end of transfer that the
# device logged after line FROM_LINE of its log.
device_time() {
  local i
  for i in $(seq 1 50); do grep -q "end of transfer" <(tail -n +"$(($1 + 1))" "$work/sim.log") && break; sleep 0.1; done
  tail -n +"$(($1 + 1))" "$work/sim.log" | awk '
    / record [0-9]+ \(send / && first == "" { first = $1 }
    /end of transfer/ && first != "" { printf "%.3f", $1 - first; found = 1; exit }
    END { if (!found) exit 1 }'
}
console=""
file=""
for round in 1 2 3; do
  mark=$(wc -l < "$work/sim.log")
  in_console many || fail "the 300-record console run did not end"
  grep -q "status 0" "$work/many.tty" || fail "the 300-record send in the console failed"
  took=$(device_time "$mark") || fail "the device did not log the console send whole"
  console_took=$took
  console=$(awk -v a="${console:-$took}" -v b="$took" 'BEGIN { print (b < a) ? b : a }')
  mark=$(wc -l < "$work/sim.log")
  wine cmd /c "$(winpath "$work/many.bat")" < /dev/null > "$work/many.file" 2>&1 || fail "the 300-record send into a file failed"
  grep -q "status 0" "$work/many.file" || fail "the 300-record send into a file failed"
  took=$(device_time "$mark") || fail "the device did not log the file send whole"
  file=$(awk -v a="${file:-$took}" -v b="$took" 'BEGIN { print (b < a) ? b : a }')
  echo "console_wine: round $round: console ${console_took} s, file ${took} s"
done
ratio=$(awk -v c="$console" -v f="$file" 'BEGIN { printf "%.3f", c / f }')
verdict="within"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.1) }' || verdict="MISSED:"
printf 'console_wine: 300 records, best of 3: console %.2f s, file %.2f s, ratio %.3f (%s the target of 1.1)\n' \
  "$console" "$file" "$ratio" "$verdict"
echo "console_wine: all cases passed"
