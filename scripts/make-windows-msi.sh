#!/usr/bin/env bash
# Builds the Windows installer DIST_DIR/matrix-update-<version>-x64.msi with wixl from the
# portable folder that scripts/make-windows-dist.sh laid out: every file of the folder is
# installed, per machine, into Program Files\matrix-update; matrix-update.exe gets a Start-menu
# entry. The installer itself is res/win/matrix-update.wxs; this script writes its file list.
# Usage: scripts/make-windows-msi.sh WINDOWS_BUILD_DIR FOLDER DIST_DIR [VERSION]
# VERSION is the project's (from CMakeLists.txt, through the build) unless given: the tests
# build a higher one to try an upgrade.
set -euo pipefail
cd "$(dirname "$0")/.."
win_build=${1:?Windows build folder}
folder=${2:?portable folder}
dist=${3:?dist folder}
# MATRIX_VERSION, MATRIX_PUBLISHER, MATRIX_ICON_FILE, written by cmake/windows_program.cmake.
# shellcheck source=/dev/null
. "$win_build/res/win/product.env"
version=${4:-$MATRIX_VERSION}
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "make-windows-msi: not a version: '$version'" >&2; exit 1; }
[ -f "$folder/matrix-update.exe" ] || { echo "make-windows-msi: no matrix-update.exe in $folder" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl finds sources by relative names only: the folder and the icon are linked into a work
# folder, where it runs.
ln -s "$(realpath "$folder")" "$work/files"
ln -s "$(realpath "$MATRIX_ICON_FILE")" "$work/matrix-update.ico"
cp res/win/matrix-update.wxs "$work/"

# One component per file, the file its key: Windows Installer then counts, replaces and
# removes each file on its own. Ids are made from the names; wixl derives each component's
# GUID from its folder and key, so it stays the same from one version to the next.
id_of() { local s=${1//[^A-Za-z0-9]/_}; echo "$s"; }
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
  echo '  <Fragment>'
  echo '    <DirectoryRef Id="INSTALLDIR">'
  ids=()
  for path in "$folder"/*; do
    [ -f "$path" ] || { echo "make-windows-msi: $path is not a plain file" >&2; exit 1; }
    name=$(basename "$path")
    id=$(id_of "$name")
    ids+=("$id")
    echo "      <Component Id=\"c_$id\" Guid=\"*\" Win64=\"yes\">"
    if [ "$name" = matrix-update.exe ]; then
      echo "        <File Id=\"f_$id\" Name=\"$name\" Source=\"files/$name\" KeyPath=\"yes\">"
      echo '          <Shortcut Id="StartMenuEntry" Directory="ProgramMenuFolder" Name="matrix-update"'
      echo '                    WorkingDirectory="INSTALLDIR" Icon="matrix_update.ico" Advertise="yes"/>'
      echo '        </File>'
    else
      echo "        <File Id=\"f_$id\" Name=\"$name\" Source=\"files/$name\" KeyPath=\"yes\"/>"
    fi
    echo '      </Component>'
  done
  echo '    </DirectoryRef>'
  echo '    <ComponentGroup Id="ProgramFiles">'
  for id in "${ids[@]}"; do echo "      <ComponentRef Id=\"c_$id\"/>"; done
  echo '    </ComponentGroup>'
  echo '  </Fragment>'
  echo '</Wix>'
} > "$work/files.wxs"

mkdir -p "$dist"
msi="$(realpath "$dist")/matrix-update-$version-x64.msi"
(cd "$work" && wixl --arch x64 --output "$msi" -D Version="$version" -D Publisher="$MATRIX_PUBLISHER" \
  -D IconFile=matrix-update.ico matrix-update.wxs files.wxs)
# Two things wixl cannot write, set in its database afterwards. It gives the database no code
# page and drops every character outside ASCII from the tables: the database is marked
# Traditional Chinese (950) first, then the Start-menu entry gets its Chinese name (an 8.3
# name for old file systems, then the long one; Windows Installer adds ".lnk"). And it makes
# every shortcut an advertised one (its target a feature), which it cannot make otherwise: the
# entry's target becomes the installed matrix-update.exe itself, a plain shortcut.
printf '\r\n\r\n950\t_ForceCodepage\r\n' > "$work/codepage.idt"
msibuild "$msi" -i "$work/codepage.idt" \
  -q "UPDATE \`Shortcut\` SET \`Name\` = 'matrixup|點矩陣更新', \`Target\` = '[#f_matrix_update_exe]' WHERE \`Shortcut\` = 'StartMenuEntry'"
echo "Windows installer $msi"
