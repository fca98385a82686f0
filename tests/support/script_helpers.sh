# shellcheck shell=bash
# The helpers of the end-to-end scripts (tests/e2e/*.sh, tests/wine/*.sh), sourced by each after
# its `set -euo pipefail`:
#   source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
# This folder is not run as tests. A helper finds a script's files under $work, the script's
# own temporary folder, and the Linux programs in $bin, as every script names them. A script
# that needs a helper to behave otherwise defines its own after the source line (the Linux
# person test reads and answers Qt's boxes its own way).

# --- Every script -------------------------------------------------------------------------

# fail MESSAGE: the test fails, saying MESSAGE. A script with more to tell about a failure (what
# was on the screen, what a program said) defines fail_details, which then says it.
fail() {
  echo "FAIL: $*" >&2
  if declare -F fail_details > /dev/null; then fail_details >&2 || true; fi
  exit 1
}

# No step waits without bound: a command still running after step_limit seconds has hung.
step_limit=${step_limit:-60}
# bounded COMMAND...: runs the command under that limit and returns its status; a command that
# runs out of time fails the test, named.
bounded() { bounded_step "'$*'" "$@"; }
# bounded_step STEP COMMAND...: the same, the failure naming STEP.
bounded_step() {
  local step=$1 got=0; shift
  timeout "$step_limit" "$@" || got=$?
  [ "$got" != 124 ] || fail "$step did not finish within $step_limit s"
  return "$got"
}

# expect STATUS COMMAND...: runs the command under the limit, its stdout and stderr kept in the
# files out and err of the current folder; any other exit status fails the test.
expect() {
  local want=$1 got=0; shift
  # Not through bounded: its failure would land in err, unseen.
  timeout "$step_limit" "$@" > out 2> err || got=$?
  [ "$got" != 124 ] || { cat out err >&2; fail "'$*' did not finish within $step_limit s"; }
  [ "$got" = "$want" ] || { cat out err >&2; fail "'$*' exited $got, expected $want"; }
}

# wait_for SECONDS COMMAND...: polls until the command succeeds (its output set aside), at most
# SECONDS; false if it never did. A script may define wait_hopeless, true once what is waited
# for can no longer come (the program that would show it has ended): the wait then ends at once.
wait_for() {
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@" > /dev/null 2>&1; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    if declare -F wait_hopeless > /dev/null && wait_hopeless; then return 1; fi
    sleep 0.1
  done
}

# wait_gone PID SECONDS: true once the process has ended (a zombie counts as ended), false if it
# still runs after SECONDS.
wait_gone() {
  local i state
  for ((i = 0; i < $2 * 20; i++)); do
    state=$(cut -d' ' -f3 "/proc/$1/stat" 2> /dev/null) || return 0
    [ "$state" = Z ] && return 0
    sleep 0.05
  done
  return 1
}

# --- A send's output, kept in $work/out ------------------------------------------------------

# expect_line LINE: the output holds LINE as a whole line.
expect_line() { grep -qxF -- "$1" "$work/out" || { cat "$work/out" >&2; fail "missing line: $1"; }; }
# count_lines LINE: how many whole lines of the output are LINE.
count_lines() { grep -cxF -- "$1" "$work/out" || true; }

# --- The device simulator --------------------------------------------------------------------

# records_received NAME: how many records the device that logs to $work/NAME.log received.
records_received() { grep -c '^record ' "$work/$1.log" || true; }

# --- The dialog on an X display ---------------------------------------------------------------

# The windows on the screen, one line each, to tell a slow machine from a fault.
show_visible_windows() {
  [ -n "${DISPLAY:-}" ] && command -v xdotool > /dev/null || return 0
  echo "visible windows:"
  local w
  for w in $(xdotool search --onlyvisible --name . 2> /dev/null); do
    echo "  $w $(xdotool getwindowname "$w" 2> /dev/null)"
  done
}

# no_box: no message box (the program's caption) is up.
no_box() { ! xdotool search --onlyvisible --name '^matrix-update$' > /dev/null 2>&1; }

# click DLU_X DLU_Y: a mouse click at a point of the dialog $win ($win_width x $win_height
# pixels) given in its dialog units: the dialog is 215 x 240 of them, laid out as its template
# says. Then a pause of click_pause seconds (0.3 unless the script sets it).
click() {
  xdotool mousemove --window "$win" $(( win_width * $1 / 215 )) $(( win_height * $2 / 240 )) click 1
  sleep "${click_pause:-0.3}"
}
click_start() { click 130 226; }
click_exit() { click 183 226; }

# --- The Windows programs under Wine ----------------------------------------------------------

# winpath PATH: a Unix path as the Windows program sees it: Wine's drive Z: is the Unix root.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

# type_into DLU_X DLU_Y TEXT: TEXT typed over what the field at that point of the dialog holds.
type_into() {
  click "$1" "$2"
  # A classic edit field knows no Ctrl+A: the text is selected from its end to its start.
  xdotool key End shift+Home BackSpace
  xdotool type --delay 15 "$3"
}

# answer_box WHAT: waits for a message box and presses Enter in it; WHAT names it in a failure.
answer_box() {
  wait_for 60 xdotool search --onlyvisible --name '^matrix-update$' || fail "no message box appeared: $1"
  local box
  box=$(xdotool search --onlyvisible --name '^matrix-update$' | head -n 1)
  xdotool windowfocus --sync "$box" 2> /dev/null || true
  xdotool key --window "$box" Return
  wait_for 10 no_box || fail "the message box did not close: $1"
}

# finish_program: 離開 ends the program $app_pid, which exits with status 0.
finish_program() {
  click_exit
  wait_for 30 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "離開 did not close the program"
  wait "$app_pid" || fail "matrix-update.exe exited with status $?"
}

# restart_wine: Wine's server started again, inside this script's display (Wine keeps the display
# its server started with) and so that it reads what changed in the registry (the COM7 mapping,
# the DPI). Its services get no output of ours to hold open.
restart_wine() {
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  wineserver -w < /dev/null > /dev/null 2>&1 || true
  wineserver -p < /dev/null > /dev/null 2>&1 || true
  wineboot < /dev/null > /dev/null 2>&1 || fail "wineboot failed after a restart of the Wine server"
}

# start_wine_device NAME ARGS...: the device simulator as COM7, logging to $work/NAME.log, its
# pid in device_pid, mapped into Wine's registry; Wine reads the mapping when its server starts.
start_wine_device() {
  local name=$1 line fd; shift
  mkfifo "$work/$name.out"
  "$bin/matrixctl" simulate --port 7 "$@" > "$work/$name.out" 2> "$work/$name.log" &
  device_pid=$!
  pids+=("$device_pid")
  exec {fd}< "$work/$name.out"
  read -r -t 10 line <&"$fd" || fail "simulator did not start"
  wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "${line#COM7 }" /f < /dev/null > /dev/null 2>&1 ||
    fail "cannot map COM7"
}

# link_chinese_fonts: the dialog's Times New Roman and the boxes' Tahoma have no Chinese letters;
# they are linked to a font that has them, as a Chinese Windows links its fonts.
link_chinese_fonts() {
  local font
  for font in "Times New Roman" "Tahoma"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$font" /t REG_MULTI_SZ /d "uming.ttc,AR PL UMing TW" /f < /dev/null > /dev/null 2>&1 || true
  done
}
