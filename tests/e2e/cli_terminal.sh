#!/usr/bin/env bash
# matrixctl as a person at a terminal meets it: send on a pseudo-terminal 50 columns wide (the
# bar fits and only the lines that matter are printed; --verbose and --quiet), names from
# outside never reaching the terminal raw, Ctrl-\ cancelling like Ctrl-C, the demo's device
# ending with a killed demo, usage errors, and the dialog's own command line.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"

command -v script >/dev/null || { echo "SKIP: script (util-linux) is needed for a pseudo-terminal" >&2; exit 77; }

# start_device PORT ARGS...: a simulated device in the background, ready when this returns.
start_device() {
  local port=$1; shift
  mkfifo "$work/sim.out.$port"
  "$bin/matrixctl" simulate --port "$port" "$@" > "$work/sim.out.$port" 2> "$work/sim.log.$port" &
  sim_pid=$!
  pids+=("$sim_pid")
  exec 7< "$work/sim.out.$port"
  read -r -t 10 _ <&7 || fail "simulator on COM$port did not start"
}
stop_device() {
  kill "$sim_pid" 2>/dev/null || true
  exec 7<&-
  wait "$sim_pid" 2>/dev/null || true
}

printf 'x,y,i1,i2,i3\n1.5,2.25,1,2,3\n10.125,-3.5,4,5,6\n0,0,0,0,0\n' > "$work/in.csv"
"$bin/matrixctl" pattern encode "$work/in.csv" "$work/three.bin"
closing="請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新"

# on_terminal OUT COMMAND...: runs the command on a pseudo-terminal 50 columns wide; everything
# the terminal received lands in OUT. The command's status is returned.
on_terminal() {
  local out=$1; shift
  local cmd
  printf -v cmd '%q ' "$@"
  set +e
  timeout -s KILL 60 script -qfec "stty cols 50 rows 24; $cmd" /dev/null < /dev/null > "$out"
  local status=$?
  set -e
  return $status
}
# lines OUT: what the terminal shows line by line, each redraw of the bar a line of its own,
# without the erase sequence.
lines() { sed 's/\x1b\[K//g' "$1" | tr '\r' '\n' | sed '/^$/d'; }

# On a terminal: the bar, within 49 columns, and of the lines only a resend, a missing reply and
# the end; silent:1 makes the first send of every record go unanswered.
start_device 21 --reply silent:1
on_terminal "$work/tty.out" "$bin/matrixctl" send -p 21 --reply-timeout 200 "$work/three.bin" ||
  { cat -A "$work/tty.out" >&2; fail "send on a terminal failed"; }
lines "$work/tty.out" > "$work/tty.lines"
grep -q '^\[[#.]*\] [0-9]*/3' "$work/tty.lines" || { cat "$work/tty.lines" >&2; fail "no progress bar on the terminal"; }
while IFS= read -r line; do
  [[ $line == \[* ]] || continue
  [ "${#line}" -le 49 ] || fail "the bar takes ${#line} columns of 50: $line"
done < "$work/tty.lines"
grep -qxF "傳送第0筆資料無回應" "$work/tty.lines" || fail "a missing reply is not shown on the terminal"
grep -qxF "點矩陣繪圖軟體 傳輸埠:COM21 已傳送共 3 行資料..." "$work/tty.lines" || fail "the final text is not shown"
grep -qxF "$closing" "$work/tty.lines" || fail "the closing instruction is not shown"
! grep -q "傳送第1/3筆\|回應OK\|Now program" "$work/tty.lines" || { cat "$work/tty.lines" >&2; fail "routine lines on the terminal"; }

# --verbose: every status line, bar or not; --quiet: the final text and the closing
# instruction only, no bar.
on_terminal "$work/tty.out" "$bin/matrixctl" send -v -p 21 --reply-timeout 200 "$work/three.bin" || fail "send -v failed"
lines "$work/tty.out" > "$work/tty.lines"
for want in "Now program 3 data..." "傳送第1/3筆" "傳送第1筆資料回應OK" "傳送第2筆資料無回應"; do
  grep -qxF "$want" "$work/tty.lines" || fail "--verbose does not show: $want"
done
on_terminal "$work/tty.out" "$bin/matrixctl" send --quiet --port COM21 --reply-timeout 200 "$work/three.bin" ||
  fail "send --quiet failed"
lines "$work/tty.out" > "$work/tty.lines"
[ "$(cat "$work/tty.lines")" = "點矩陣繪圖軟體 傳輸埠:COM21 已傳送共 3 行資料..."$'\n'"$closing" ] ||
  { cat -A "$work/tty.out" >&2; fail "--quiet shows more than the final text"; }
stop_device

# Names from outside never reach the terminal raw: a file name with ESC, BEL and DEL in the
# messages of send (a file that cannot be opened, a file with trailing bytes), pattern and skin.
evil=$'x\e]0;pwned\a\x7f'
start_device 22 --reply ok
{ cat "$work/three.bin"; printf 'tail'; } > "$work/$evil.bin"
set +e
"$bin/matrixctl" send -p 22 "$work/$evil-missing.bin" > "$work/out" 2> "$work/err"; s1=$?
"$bin/matrixctl" send -p 22 "$work/$evil.bin" >> "$work/out" 2>> "$work/err"; s2=$?
"$bin/matrixctl" pattern decode "$work/$evil-missing.bin" >> "$work/out" 2>> "$work/err"; s3=$?
"$bin/matrixctl" skin list "$work/$evil.zip" >> "$work/out" 2>> "$work/err"; s4=$?
"$bin/matrixctl" send -p "$evil" "$work/three.bin" >> "$work/out" 2>> "$work/err"; s5=$?
set -e
stop_device
[ "$s1 $s2 $s3 $s4 $s5" = "2 0 2 2 1" ] || { cat "$work/err" >&2; fail "statuses $s1 $s2 $s3 $s4 $s5, expected 2 0 2 2 1"; }
! grep -q $'[\x01-\x09\x0b-\x1f\x7f]' "$work/out" "$work/err" || { cat -A "$work/err" >&2; fail "a control character reached the output"; }
[ "$(grep -cF 'x\x1b]0;pwned\x07\x7f' "$work/err")" = 5 ] || { cat "$work/err" >&2; fail "the name is not shown escaped in every message"; }
grep -qF 'the last 4 bytes of' "$work/err" || fail "no trailing-bytes warning"

# Ctrl-\ (SIGQUIT) cancels like Ctrl-C: the end-of-transfer byte still goes out, status 4.
# A job started with & here would inherit SIGQUIT ignored; a terminal's foreground job has it
# at its default (a core dump), so that is how the send is started.
start_device 23 --reply silent --once
perl -e '$SIG{QUIT} = "DEFAULT"; exec @ARGV or die "cannot run $ARGV[0]\n"' -- \
  "$bin/matrixctl" send --port 23 "$work/three.bin" > "$work/out" 2> "$work/err" &
send_pid=$!
pids+=("$send_pid")
for _ in $(seq 1 400); do grep -q "傳送第0/3筆" "$work/out" 2>/dev/null && break; sleep 0.05; done
kill -QUIT "$send_pid"
wait_gone "$send_pid" 30 || fail "send did not end after SIGQUIT"
set +e; wait "$send_pid"; status=$?; set -e
wait_gone "$sim_pid" 10 || fail "the device got no end-of-transfer byte after SIGQUIT"
stop_device
[ "$status" = 4 ] || { cat "$work/out" "$work/err" >&2; fail "SIGQUIT: send exited $status, expected 4"; }
grep -q "end of transfer" "$work/sim.log.23" || fail "SIGQUIT: no end-of-transfer byte"

# A demo killed outright (SIGKILL) takes its simulated device with it.
"$bin/matrixctl" demo > "$work/demo.out" 2>&1 &
demo_pid=$!
pids+=("$demo_pid")
for _ in $(seq 1 200); do grep -q "^Simulated device:" "$work/demo.out" 2>/dev/null && break; sleep 0.05; done
grep -q "^Simulated device:" "$work/demo.out" || fail "the demo did not start its device"
device=$(pgrep -P "$demo_pid" | head -n 1)
[ -n "$device" ] || fail "the demo's device process was not found"
pids+=("$device")
kill -KILL "$demo_pid"
wait_gone "$device" 10 || fail "the demo's simulated device outlived a killed demo"

# Usage errors: status 1 and "matrixctl CMD: one sentence." first; help on stdout.
while IFS='|' read -r want prefix args; do
  IFS=' ' read -r -a argv <<< "$args"
  set +e; "$bin/matrixctl" "${argv[@]}" > "$work/out" 2> "$work/err"; got=$?; set -e
  [ "$got" = "$want" ] || { cat "$work/err" >&2; fail "matrixctl $args exited $got, expected $want"; }
  if [ "$want" = 1 ]; then
    head -n 1 "$work/err" | grep -q "^$prefix: .*\.$" || { cat "$work/err" >&2; fail "matrixctl $args: not one sentence in the command's style"; }
  else
    head -n 1 "$work/out" | grep -q "^usage: $prefix" || { cat "$work/out" >&2; fail "matrixctl $args: no help"; }
  fi
done <<'CASES'
1|matrixctl|
1|matrixctl|frobnicate
1|matrixctl|--frob
0|matrixctl|/?
0|matrixctl|-h
1|matrixctl send|send
1|matrixctl send|send --port 0 a.bin
1|matrixctl send|send --reply-timeout 5 a.bin
1|matrixctl send|send -q -v a.bin
0|matrixctl send|send /?
1|matrixctl ports|ports --all
1|matrixctl pattern|pattern frob
1|matrixctl pattern|pattern decode
1|matrixctl skin|skin extract x
1|matrixctl simulate|simulate --pace 0
1|matrixctl simulate|simulate --reply never
1|matrixctl demo|demo now
0|matrixctl demo|demo --help
CASES
[ "$("$bin/matrixctl" -V)" = "$("$bin/matrixctl" --version)" ] || fail "-V and --version differ"

# The dialog's command line needs no display for help and the version.
if [ -x "$bin/matrix-update" ]; then
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= timeout 20 "$bin/matrix-update" --help > "$work/out" 2> "$work/err" ||
    { cat "$work/err" >&2; fail "matrix-update --help without a display exited $?"; }
  grep -q "^usage: matrix-update \[OPTIONS\] \[FILE\]" "$work/out" || fail "matrix-update --help printed no usage"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= timeout 20 "$bin/matrix-update" -V | grep -q "^matrix-update [0-9]" ||
    fail "matrix-update -V without a display"
  set +e; QT_QPA_PLATFORM=offscreen timeout 20 "$bin/matrix-update" --frob > /dev/null 2> "$work/err"; got=$?; set -e
  [ "$got" = 1 ] && grep -q "^matrix-update: unknown option '--frob'\.$" "$work/err" ||
    { cat "$work/err" >&2; fail "matrix-update --frob exited $got"; }
fi
echo "cli_terminal: all cases passed"
