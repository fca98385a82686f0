#!/usr/bin/env bash
# What `make gui` runs: the dialog from a build directory, with a simulated device registered
# as a COM port, so a whole update can be tried without hardware. The simulator stops when
# the dialog closes.
#
# usage: scripts/run-gui.sh [BUILD_DIR] [PORT]     (defaults: build, 9)
set -euo pipefail
build=${1:-build}
port=${2:-9}
bin="$build/bin"
source_dir=$(cd "$(dirname "$0")/.." && pwd)

[ -x "$bin/matrix-update" ] || { echo "run-gui: $bin/matrix-update is not built (run make build first)." >&2; exit 1; }
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-gui: no display: the dialog needs a desktop session (or try: xvfb-run -a $0 $build)." >&2
  exit 1
fi

work=$(mktemp -d)
sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator's link goes into a ports directory of this run only, so it never replaces a
# name the user keeps in the usual one.
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"
mkfifo "$work/sim.out"
"$bin/matrixctl" simulate --port "$port" --reply ok > "$work/sim.out" 2> "$work/device.log" &
sim_pid=$!
exec 3< "$work/sim.out"
read -r -t 10 first <&3 || { echo "run-gui: the simulated device did not start:" >&2; cat "$work/device.log" >&2; exit 1; }

echo "Simulated device: ${first} (its log: $work/device.log while the dialog runs)."
echo "Pick COM$port, choose $source_dir/res/sample.bin and press 開始更新."
"$bin/matrix-update" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=""
echo "The device received $(grep -c '^record ' "$work/device.log" || true) records."
exit "$status"
