#!/usr/bin/env bash
# The Windows installer under Wine, as an operator meets it: msiexec /i ... /qn installs the
# programs into Program Files with a Start-menu entry, an Apps & features entry and the
# InstallDir value; the installed dialog runs a whole update against the Linux device
# simulator mapped as COM7; a higher version replaces it and leaves one installation (a lower
# one is refused); at 144 dpi the dialog, its banner and its icons scale; msiexec /x removes
# every installed file and keeps the user's settings.
# Wine shows no Apps & features and draws no shortcut: their icons are checked in what the
# installer wrote (the .lnk's icon location, the icon file) and in the MSI's own tables.
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones).
set -eEuo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
src=${MATRIX_SOURCE_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
# Without this, Wine's menu builder would write the Start-menu entry as a desktop file into
# the real home folder.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ -z "${MATRIX_UNDER_XVFB:-}" ]; then
  for tool in xvfb-run Xvfb xdotool xprop xwd wixl msibuild msiinfo msidump python3; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed, so the installer test cannot run" >&2
      exit 77
    fi
  done
  set +e
  MATRIX_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
  status=$?
  set -e
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  exit "$status"
fi

work=$(mktemp -d)
pids=()
win_build=$(dirname "$winbin")
drive_c="$WINEPREFIX/drive_c"
inst="$drive_c/Program Files/matrix-update"
inst_win='C:\Program Files\matrix-update\'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

wine_quiet() { wine "$@" < /dev/null > /dev/null 2>&1; }
set_dpi() {
  if [ "$1" = 96 ]; then
    wine_quiet reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f || true
  else
    wine_quiet reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
  fi
}
# Every installation of ours, whatever its version: the prefix is shared with the other tests
# and must be left as it was found.
remove_installations() {
  local code
  for code in $(wine reg query "$uninstall_key" /s < /dev/null 2>/dev/null | tr -d '\r' |
                awk -F'\\' '/^HKEY/ { key = $NF } /DisplayName +REG_SZ +matrix-update$/ { print key }'); do
    wine_quiet msiexec /x "$code" /qn || true
  done
}
# What an earlier run left: the settings an uninstall keeps would pass for this run's.
remove_leftovers() {
  rm -rf "$inst" "$drive_c/users/$(id -un)/AppData/Roaming/matrix-update"
}
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  set_dpi 96 || true
  remove_installations || true
  remove_leftovers
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A step that fails without a sentence of its own still says where.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited $?" >&2' ERR
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"

fail_details() { show_visible_windows; }
reg_value() {  # KEY NAME: the value's data, or nothing
  wine reg query "$1" /v "$2" < /dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 \+REG_[A-Z_]\+ \+//p"
}
# The Uninstall entries (Apps & features) named matrix-update, one "version" line each.
installed_versions() {
  wine reg query "$uninstall_key" /s < /dev/null 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { name = ""; version = "" }
         /DisplayName +REG_SZ/ { name = $3 }
         /DisplayVersion +REG_SZ/ { version = $3 }
         name == "matrix-update" && version != "" { print version; name = "" }'
}
start_menu_entry() {
  find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
       "$drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" \
       -maxdepth 1 -name '點矩陣更新.lnk' 2>/dev/null
}

# The folder and the installer, laid out as `make windows` does, and the same installer one
# version higher.
scripts/make-windows-dist.sh "$win_build" "$work/dist" > /dev/null
folder="$work/dist/matrix-update-windows"
. "$win_build/res/win/product.env"
version=$MATRIX_VERSION
IFS=. read -r major minor patch <<< "$version"
newer="$major.$minor.$((patch + 1))"
msi="$work/dist/matrix-update-$version-x64.msi"
scripts/make-windows-msi.sh "$win_build" "$folder" "$work/newer" "$newer" > /dev/null
msi_newer="$work/newer/matrix-update-$newer-x64.msi"
[ -f "$msi" ] && [ -f "$msi_newer" ] || fail "the installers were not built"
files=()
for path in "$folder"/*; do files+=("$(basename "$path")"); done

# 1. What Wine cannot show, in the installer's tables: Apps & features takes its icon from
# ARPPRODUCTICON, the icon table holds the program's icon, the Start-menu entry names it.
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v k="$2" '$1 == k { print $2 }'; }
[ "$(property "$msi" ProductVersion)" = "$version" ] || fail "the installer's ProductVersion is not $version"
[ "$(property "$msi" Manufacturer)" = "$MATRIX_PUBLISHER" ] || fail "the installer names no publisher"
icon_id=$(property "$msi" ARPPRODUCTICON)
[ -n "$icon_id" ] || fail "the installer gives Apps & features no icon"
mkdir "$work/tables"
(cd "$work/tables" && msidump "$msi" > /dev/null 2>&1)
cmp -s "$work/tables/Icon/Icon.$icon_id" "$MATRIX_ICON_FILE" ||
  fail "the installer's icon $icon_id is not the program's icon"
msiinfo export "$msi" Shortcut | tr -d '\r' |
  awk -F'\t' -v icon="$icon_id" '$2 == "ProgramMenuFolder" && $3 ~ /\|點矩陣更新$/ && $5 == "[#f_matrix_update_exe]" && $9 == icon { found = 1 }
                                 END { exit !found }' ||
  fail "the installer has no Start-menu entry 點矩陣更新 for matrix-update.exe with the icon"
echo "msi_wine: the installer's tables passed"

# 2. Install: every file of the folder in Program Files, the InstallDir value, the entries.
remove_installations
remove_leftovers
restart_wine
wine msiexec /i "$(winpath "$msi")" /qn < /dev/null > "$work/install.log" 2>&1 || fail "msiexec /i exited $?"
for name in "${files[@]}"; do
  cmp -s "$folder/$name" "$inst/$name" || fail "$name is not installed in Program Files"
done
[ "$(reg_value 'HKLM\Software\matrix-update' InstallDir)" = "$inst_win" ] ||
  fail "InstallDir is '$(reg_value 'HKLM\Software\matrix-update' InstallDir)', not '$inst_win'"
[ "$(installed_versions)" = "$version" ] || fail "Apps & features lists '$(installed_versions)', not $version"
entry=$(start_menu_entry)
[ -n "$entry" ] || fail "no Start-menu entry 點矩陣更新"
# The shortcut's target and icon location, as the link file holds them (UTF-16 strings).
link_strings=$(python3 -c 'import re, sys
data = open(sys.argv[1], "rb").read()
for m in re.finditer(rb"(?:[\x20-\x7e]\x00){4,}", data): print(m.group().decode("utf-16-le"))
for m in re.finditer(rb"[\x20-\x7e]{4,}", data): print(m.group().decode("ascii"))' "$entry")
grep -qxF "${inst_win}matrix-update.exe" <<< "$link_strings" ||
  fail "the Start-menu entry does not start the installed matrix-update.exe"
icon_location=$(grep -o 'C:\\windows\\Installer\\.*\.ico$' <<< "$link_strings" | head -n 1)
[ -n "$icon_location" ] || fail "the Start-menu entry has no icon"
icon_file="$drive_c/${icon_location#C:\\}"
cmp -s "${icon_file//\\//}" "$MATRIX_ICON_FILE" || fail "the Start-menu entry's icon is not the program's icon"
echo "msi_wine: install passed"

# 3. The installed dialog runs a whole update.
device_pid=""
win=""
app_pid=""
start_program() {
  wine "$inst/matrix-update.exe" < /dev/null > "$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 60 xdotool search --onlyvisible --name '^RED udized idirediz$' || fail "the window did not appear"
  win=$(xdotool search --onlyvisible --name '^RED udized idirediz$' | head -n 1)
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  win_x=$X win_y=$Y win_width=$WIDTH win_height=$HEIGHT
}
# The dialog's look at this DPI: the window's size, the banner's extent and whether the
# white frame behind it shows anywhere, and the sizes of the icons the window gave the
# system (with the share of their pixels in the icon's panel colour).
window_look() {
  # The title-bar icons reach the X window a moment after the window itself.
  wait_for 10 bash -c "xprop -id $win _NET_WM_ICON | grep -c '^.*Icon (' | grep -qx 2" || true
  xwd -root -silent > "$work/screen.xwd"
  xprop -id "$win" -notype -f _NET_WM_ICON 32c _NET_WM_ICON > "$work/icon.txt" || true
  python3 - "$work/screen.xwd" "$work/icon.txt" "$win_x" "$win_y" "$win_width" "$win_height" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
head = struct.unpack(">25I", data[:100])
header_size, width, height, byte_order, bpp, bytes_per_line, ncolors = head[0], head[4], head[5], head[7], head[11], head[12], head[19]
pixels = data[header_size + ncolors * 12:]
x0, y0, w, h = (int(v) for v in sys.argv[3:7])
def rgb(x, y):
    i = y * bytes_per_line + x * (bpp // 8)
    b, g, r = pixels[i], pixels[i + 1], pixels[i + 2]
    return (r, g, b) if byte_order == 0 else (pixels[i + 1], pixels[i + 2], pixels[i + 3])
# The banner is the dark picture at the top of the dialog (above the first group box).
dark = [(x, y) for y in range(y0, y0 + h * 28 // 100) for x in range(x0, x0 + w) if max(rgb(x, y)) < 90]
if not dark:
    print("banner none")
else:
    left, right = min(x for x, _ in dark), max(x for x, _ in dark)
    top, bottom = min(y for _, y in dark), max(y for _, y in dark)
    ring = [(x, y) for y in range(top - 3, bottom + 4) for x in range(left - 3, right + 4)
            if not (left <= x <= right and top <= y <= bottom)]
    white = sum(1 for x, y in ring if rgb(x, y) == (255, 255, 255))
    print("banner", right - left + 1, bottom - top + 1, "white", white)
text = open(sys.argv[2]).read()
values = [int(v) for v in text.replace("=", ",").split(",")[1:] if v.strip()] if "=" in text else []
sizes = []
while len(values) >= 2:
    iw, ih = values[0], values[1]
    image = values[2:2 + iw * ih]
    panel = sum(1 for p in image if p == 0xFF24323F)
    sizes.append("%dx%d:%d" % (iw, ih, 100 * panel // max(1, len(image))))
    values = values[2 + iw * ih:]
print("icons", " ".join(sorted(sizes)))
EOF
}
# "icons 16x16:P 32x32:P": both sizes present and mostly the icon's panel colour.
check_icons() {  # LOOK SMALL BIG
  local size share
  for size in "$2" "$3"; do
    share=$(grep -o "icons.*" <<< "$1" | grep -o " ${size}x${size}:[0-9]*" | cut -d: -f2 || true)
    [ -n "$share" ] && [ "$share" -ge 20 ] || fail "the window has no ${size}-pixel program icon: $1"
  done
}

start=$(date +%s)
records=$(( $(stat -c %s "$src/res/sample.bin") / 12 ))
cp "$src/res/sample.bin" "$work/pattern.bin"
start_wine_device whole --reply ok --once
restart_wine
start_program
no_box || fail "a message box came up at start-up of the installed dialog"
look96=$(window_look) || fail "cannot take the dialog's picture"
read -r _ banner96_w banner96_h _ white96 <<< "$(head -n 1 <<< "$look96")"
[ "${white96:-1}" = 0 ] || fail "at 96 dpi the banner does not fill its frame: $look96"
check_icons "$look96" 16 32
width96=$win_width
type_into 140 93 "COM7"
type_into 106 156 "$(winpath "$work/pattern.bin")"
click 130 226
update_over() { ! kill -0 "$device_pid" 2>/dev/null || ! no_box; }
wait_for 120 update_over || fail "the update did not end"
grep -q "end of transfer" "$work/whole.log" || fail "a box came before the device got the end-of-transfer byte"
answer_box "closing instruction"
[ "$(xdotool getwindowname "$win")" = "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 $records 行資料..." ] ||
  fail "unexpected caption: $(xdotool getwindowname "$win")"
finish_program
[ "$(grep -c '^record ' "$work/whole.log")" -ge "$records" ] || fail "the device did not log every record"
# The installed program keeps the port in the user's %APPDATA%, never beside itself (Wine
# would let it write Program Files, so a program that did not know it is installed would).
settings="$drive_c/users/$(id -un)/AppData/Roaming/matrix-update/setting.ini"
[ -f "$settings" ] && tr -d '\r' < "$settings" | grep -qx "ComPort=7" ||
  fail "%APPDATA%\\matrix-update\\setting.ini does not hold ComPort=7 after the update"
[ ! -e "$inst/setting.ini" ] || fail "the installed program wrote setting.ini into its program folder"
echo "msi_wine: the installed dialog's update passed (settings in ${settings#"$drive_c/"})"

# 4. A higher version replaces this one: one installation, the new files, the settings kept;
# the lower one is then refused.
wine msiexec /i "$(winpath "$msi_newer")" /qn < /dev/null > "$work/upgrade.log" 2>&1 || fail "msiexec /i of $newer exited $?"
[ "$(installed_versions)" = "$newer" ] || fail "after the upgrade Apps & features lists '$(installed_versions)', not only $newer"
for name in "${files[@]}"; do
  cmp -s "$folder/$name" "$inst/$name" || fail "$name is missing after the upgrade"
done
[ "$(start_menu_entry | wc -l)" = 1 ] || fail "after the upgrade there is not exactly one Start-menu entry"
tr -d '\r' < "$settings" | grep -qx "ComPort=7" || fail "the upgrade lost the user's setting.ini"
if wine msiexec /i "$(winpath "$msi")" /qn < /dev/null > "$work/downgrade.log" 2>&1; then
  fail "the older installer $version was accepted over $newer"
fi
[ "$(installed_versions)" = "$newer" ] || fail "a refused downgrade changed the installation: '$(installed_versions)'"
echo "msi_wine: upgrade passed"

# 5. At 144 dpi the dialog grows with its font, the banner still fills its frame and the
# icons are the larger ones. (Wine gives a program that declares no DPI awareness the same
# size: what the manifest changes on Windows cannot be seen here.)
set_dpi 144
restart_wine
start_program
look144=$(window_look) || fail "cannot take the dialog's picture"
read -r _ banner144_w banner144_h _ white144 <<< "$(head -n 1 <<< "$look144")"
[ "${white144:-1}" = 0 ] || fail "at 144 dpi the banner does not fill its frame: $look144"
check_icons "$look144" 24 48
ratio=$(( 100 * win_width / width96 ))
banner_ratio=$(( 100 * banner144_w / banner96_w ))
# The template grows with its font, whose hinted sizes do not scale exactly: about one and a
# half, never the same size.
[ "$ratio" -ge 130 ] && [ "$ratio" -le 170 ] || fail "at 144 dpi the dialog is $ratio% of its 96-dpi width"
[ "$banner_ratio" -ge 130 ] && [ "$banner_ratio" -le 170 ] || fail "at 144 dpi the banner is $banner_ratio% of its 96-dpi width"
finish_program
set_dpi 96
echo "msi_wine: 144 dpi passed (dialog ${ratio}%, banner ${banner96_w}x${banner96_h} -> ${banner144_w}x${banner144_h})"

# 6. Uninstall: no installed file, entry or value is left; the user's settings are.
restart_wine
wine msiexec /x "$(winpath "$msi_newer")" /qn < /dev/null > "$work/uninstall.log" 2>&1 || fail "msiexec /x exited $?"
for name in "${files[@]}"; do
  [ ! -e "$inst/$name" ] || fail "$name is left in Program Files after the uninstall"
done
left=$(find "$inst" -mindepth 1 ! -name setting.ini 2>/dev/null || true)
[ -z "$left" ] || fail "the program folder keeps files after the uninstall: $left"
[ -z "$(start_menu_entry)" ] || fail "the Start-menu entry outlived the uninstall"
[ -z "$(reg_value 'HKLM\Software\matrix-update' InstallDir)" ] || fail "InstallDir outlived the uninstall"
[ -z "$(installed_versions)" ] || fail "Apps & features still lists $(installed_versions)"
tr -d '\r' < "$settings" | grep -qx "ComPort=7" || fail "the uninstall took the user's setting.ini"
echo "msi_wine: uninstall passed ($(( $(date +%s) - start )) s in all)"
