#!/usr/bin/env bash
# Drives matrixctl pattern the way a script would: the sample round trip, a bad row, a damaged
# binary, and the usage errors, each with its exit status.
set -euo pipefail
bin=${MATRIX_BIN_DIR:?}/matrixctl
src=${MATRIX_SOURCE_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# No step waits without bound: a command still running after this many seconds has hung.
limit=60

# bounded COMMAND...: runs the command with the time limit; a command that runs out of time
# fails the test, naming the step.
bounded() {
  local got=0
  timeout "$limit" "$@" || got=$?
  [ "$got" != 124 ] || fail "'$*' did not finish within $limit s"
  return "$got"
}

# expect STATUS COMMAND...: runs the command, keeps its stdout and stderr in out/err.
expect() {
  local want=$1; shift
  local got=0
  bounded "$@" >out 2>err || got=$?
  [ "$got" = "$want" ] || { cat err >&2; fail "'$*' exited $got, expected $want"; }
}

# The shipped sample is what encode makes of its CSV, and survives decode and encode again.
expect 0 "$bin" pattern encode "$src/res/sample.csv" sample.bin
cmp sample.bin "$src/res/sample.bin" || fail "res/sample.bin differs from the encoded res/sample.csv"
expect 0 "$bin" pattern decode sample.bin
cp out decoded.csv
[ "$(head -n 1 decoded.csv)" = "x,y,i1,i2,i3" ] || fail "decode prints no header"
[ "$(($(wc -l < decoded.csv) - 1))" = "$(($(stat -c %s sample.bin) / 12))" ] || fail "one row per record"
expect 0 "$bin" pattern encode decoded.csv again.bin
cmp sample.bin again.bin || fail "decode then encode changed the records"

# Values whose products fall just short of an integer, and ones that wrap, also come back whole.
printf '1.005,0.29,-1,256,-1\n70.5,-23.5,0,0,65536\n-0.00099,99.99999,7,7,7\n' > edge.csv
expect 0 "$bin" pattern encode edge.csv edge.bin
[ "$(stat -c %s edge.bin)" = 36 ] || fail "three records are 36 bytes"
expect 0 "$bin" pattern decode edge.bin
cp out edge-decoded.csv
expect 0 "$bin" pattern encode edge-decoded.csv edge-again.bin
cmp edge.bin edge-again.bin || fail "edge values did not survive the round trip"

# A bad row: reported as FILE:LINE: reason, status 2, and the old output is left alone.
printf 'x,y,i1,i2,i3\n# fine so far\n1,2,3,4,5\n1,2,abc,4,5\n' > bad.csv
expect 2 "$bin" pattern encode bad.csv sample.bin
grep -qx 'bad.csv:4: field 3 (i1) is not a number: "abc"' err || { cat err >&2; fail "bad row message"; }
cmp sample.bin "$src/res/sample.bin" || fail "a failed encode touched its output"
expect 2 "$bin" pattern encode bad.csv new.bin
[ ! -e new.bin ] || fail "a failed encode created its output"
printf '1,2,3,4,2147483648\n' > range.csv
expect 2 "$bin" pattern encode range.csv new.bin
grep -q '^range.csv:1: field 5 (i3) is outside the 32-bit signed integer range' err || fail "range message"
expect 2 "$bin" pattern encode missing.csv new.bin
grep -q 'missing.csv' err || fail "missing input not named"
ls "$work" | grep -q 'XXX\|\.bin\.' && fail "temporary file left behind"

# A damaged binary: a partial record or a wrong marker is an error and prints no rows.
head -c 30 sample.bin > partial.bin
expect 2 "$bin" pattern decode partial.bin
grep -q 'partial record of 6 bytes' err || { cat err >&2; fail "partial record message"; }
[ ! -s out ] || fail "rows printed for a damaged file"
{ head -c 12 sample.bin; printf '\x00'; tail -c +14 sample.bin | head -c 11; } > marker.bin
expect 2 "$bin" pattern decode marker.bin
grep -q 'record 2 (byte 12)' err || { cat err >&2; fail "bad marker message"; }

# Usage.
expect 0 "$bin" pattern --help
grep -q 'pattern encode IN.csv OUT.bin' out || fail "help text"
expect 1 "$bin" pattern
expect 1 "$bin" pattern encode only-one.csv
expect 1 "$bin" pattern frobnicate a b
echo "pattern_cli: all passed"
