#!/usr/bin/env bash
# Lays out the Windows programs for people to copy: dist/matrix-update-windows/ and a zip of it.
# Usage: scripts/make-windows-dist.sh WINDOWS_BUILD_DIR DIST_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
win_build=${1:?Windows build folder}
dist=${2:?dist folder}
name=matrix-update-windows
rm -rf "${dist:?}/$name" "$dist/$name.zip"
mkdir -p "$dist/$name"
for program in matrix-update matrixctl; do
  x86_64-w64-mingw32-strip -o "$dist/$name/$program.exe" "$win_build/bin/$program.exe"
done
cp res/sample.bin "$dist/$name/sample.bin"
# The skin library, once the build makes one: the dialog looks for it beside itself.
if [ -f "$win_build/bin/matrixskin.dll" ]; then
  x86_64-w64-mingw32-strip -o "$dist/$name/matrixskin.dll" "$win_build/bin/matrixskin.dll"
fi
# Notepad on a Chinese Windows takes a text file without a byte-order mark for the local code
# page (Big5) and garbles its Chinese; and older Notepads want CRLF line ends.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' res/windows-readme.txt; } > "$dist/$name/README.txt"
(cd "$dist" && zip -q -r -X "$name.zip" "$name")
echo "Windows programs in $dist/$name and $dist/$name.zip"
# The installer: the same files as the folder, installed into Program Files.
scripts/make-windows-msi.sh "$win_build" "$dist/$name" "$dist"
