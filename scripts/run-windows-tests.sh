#!/usr/bin/env bash
# The Windows stage of the tests: the core's unit tests built for Windows, the Windows
# matrixctl.exe against the Linux device simulator, and the dialog matrix-update.exe driven as
# a person would on a virtual display (tests/wine/dialog_wine.sh), all under Wine, in one prefix inside the
# Windows build folder with its server kept warm (a cold Wine start costs about a second).
# Usage: scripts/run-windows-tests.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=$(realpath "${1:?Linux build folder}")
win_build=$(realpath "${2:?Windows build folder}")

export WINEPREFIX="$win_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no .NET or Gecko installer prompts in a fresh prefix
unset DISPLAY WAYLAND_DISPLAY

# Wine's server and the services it starts outlive the commands that start them: none of
# them may hold this script's output open, or a reader of it waits for ever.
stop_wine() { wineserver -k < /dev/null > /dev/null 2>&1 || true; }
trap stop_wine EXIT
# The server first (persistent: it stays between programs), then the prefix it serves. A
# server already running for this prefix is as good.
mkdir -p "$WINEPREFIX"
wineserver -p < /dev/null > /dev/null 2>&1 || true
[ -f "$WINEPREFIX/system.reg" ] || echo "Preparing the Wine prefix $WINEPREFIX"
# Starts Wine's services here, with no output of ours to inherit (and makes a new prefix).
wineboot --init < /dev/null > /dev/null 2>&1

# Unit tests that cannot run under Wine, each with its reason.
skips=(
  # It runs the build's archive tool, which is a Linux program next to a Windows test.
  "SkinBootstrap.ArchiveIsRebuiltByteForByte"
  # They expect the Linux system texts ("No such file or directory"); Windows has its own.
  "ProfileAtomicWrite.ReportsAndRefusesBadTargets"
  "AppSettingsFile.FailedSaveNamesTheFileAndKeepsThePort"
  # Wine cannot make a symbolic link.
  "ProfileAtomicWrite.ReplacesTheFileBehindASymbolicLink"
)
filter="-$(IFS=:; echo "${skips[*]}")"
echo "Unit tests under Wine (skipped: ${skips[*]})"
wine "$win_build/bin/matrix_tests.exe" --gtest_brief=1 --gtest_filter="$filter" < /dev/null 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
[ "$status" = 0 ] || { echo "FAIL: unit tests under Wine exited $status" >&2; exit 1; }

for script in tests/wine/*.sh; do
  echo "End-to-end under Wine: $script"
  set +e
  MATRIX_BIN_DIR="$linux_build/bin" MATRIX_WIN_BIN_DIR="$win_build/bin" MATRIX_SOURCE_DIR="$PWD" \
    timeout 300 bash "$script" < /dev/null
  status=$?
  set -e
  # 77: the script could not run here and has said why.
  [ "$status" = 0 ] || [ "$status" = 77 ] || { echo "FAIL: $script exited $status" >&2; exit 1; }
done
# matrixctl.exe's speed under Wine beside the Linux build's, in turns against one paced device:
# a missed target is printed, not a failure.
echo "Benchmark under Wine: bench/bench_wine_transfer.sh"
bash bench/bench_wine_transfer.sh "$linux_build/bin" "$win_build/bin" 2 < /dev/null
echo "Windows stage passed."
