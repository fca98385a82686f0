#!/usr/bin/env bash
# Checks the Debian package that `make package` built in BUILD_DIR: its control data and
# files, lintian's verdict, and the installed programs run from an unpacked tree, as they
# would run from /usr after `apt install ./matrix-update_*.deb`.
# Usage: tests/package/check_package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: check_package.sh BUILD_DIR}
work=$(mktemp -d)
sim=""
cleanup() {
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
deb="$build/matrix-update_${version}_amd64.deb"
[ -f "$deb" ] || fail "$deb was not built (make package)"

# Control data: name, version from the project, Depends computed from the binaries.
dpkg-deb --info "$deb" > "$work/info" || fail "dpkg-deb cannot read $deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = matrix-update ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version), project $version"
[ "$(field Architecture)" = amd64 ] || fail "architecture: $(field Architecture)"
depends=$(field Depends)
depends_names=$(tr ',|' '\n\n' <<< "$depends" | sed 's/^ *//; s/ .*//')
# The Qt platform plugins are loaded at run time, which dpkg-shlibdeps cannot see. The update
# log's digest and journal come from libcrypto (libssl3) and libsystemd0.
for lib in libc6 libstdc++6 zlib1g libqt6core6 libqt6widgets6 qt6-qpa-plugins libssl3 libsystemd0; do
  grep -qxF "$lib" <<< "$depends_names" || fail "Depends lacks $lib: $depends"
done
# A font with the dialog's Chinese texts, without forcing one on a machine that has another.
[ "$(field Recommends)" = "fonts-arphic-uming | fonts-noto-cjk" ] || fail "Recommends: $(field Recommends)"
# No maintainer scripts: the skin library is private (never on the loader's path), so there is
# nothing for ldconfig to do, and libc's trigger runs it anyway.
control_files=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')
[ "$control_files" = "control md5sums " ] || fail "control archive holds: $control_files"

# Files: each in its place, nothing outside /usr, nothing the programs write at run time.
dpkg-deb --contents "$deb" | awk '{print $1, $6}' > "$work/contents"
expected=(
  "-rwxr-xr-x ./usr/bin/matrix-update"
  "-rwxr-xr-x ./usr/bin/matrixctl"
  "-rw-r--r-- ./usr/lib/matrix-update/libmatrixskin.so"
  "-rw-r--r-- ./usr/share/applications/matrix-update.desktop"
  "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/matrix-update.svg"
  "-rw-r--r-- ./usr/share/bash-completion/completions/matrixctl"
  "-rw-r--r-- ./usr/share/matrix-update/sample.bin"
  "-rw-r--r-- ./usr/share/doc/matrix-update/copyright"
  "-rw-r--r-- ./usr/share/doc/matrix-update/changelog.gz"
  "-rw-r--r-- ./usr/share/doc/matrix-update/README.Debian"
  "-rw-r--r-- ./usr/share/man/man1/matrixctl.1.gz"
  "-rw-r--r-- ./usr/share/man/man1/matrix-update.1.gz"
)
for entry in "${expected[@]}"; do
  grep -qxF -e "$entry" "$work/contents" || { cat "$work/contents" >&2; fail "the package lacks: $entry"; }
done
outside=$(awk '$2 !~ /^\.\/usr\// && $2 != "./"' "$work/contents")
[ -z "$outside" ] || fail "files outside /usr: $outside"
! grep -qE 'setting\.ini|\.qss$' "$work/contents" || fail "the package carries a file written at run time"

# lintian: errors and warnings fail the check, and none is suppressed; notes are shown.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" 2>/dev/null > "$work/lintian" \
    || { cat "$work/lintian" >&2; fail "lintian finds errors or warnings in $deb"; }
  cat "$work/lintian"
else
  fail "lintian is not installed (scripts/install-deps.sh installs it)"
fi

# The package installed into a throw-away root.
root="$work/root"
dpkg-deb --extract "$deb" "$root"
for prog in matrixctl matrix-update; do
  out=$("$root/usr/bin/$prog" --version) || fail "$prog --version failed"
  [ "$out" = "$prog $version" ] || fail "$prog --version says '$out', expected '$prog $version'"
done
# A simulated device from the installed matrixctl, found again by its own ports command.
export MATRIX_PORTS_DIR="$work/ports"
mkdir "$MATRIX_PORTS_DIR"
mkfifo "$work/sim.out"
"$root/usr/bin/matrixctl" simulate --port 7 > "$work/sim.out" 2> "$work/sim.log" &
sim=$!
exec 3< "$work/sim.out"
read -r -t 10 line <&3 || fail "the installed matrixctl simulate did not start"
pty=${line#COM7 }
"$root/usr/bin/matrixctl" ports > "$work/ports.out" || fail "the installed matrixctl ports failed"
grep -qP "^COM7\t$pty\t" "$work/ports.out" || { cat "$work/ports.out" >&2; fail "ports does not list COM7 on $pty"; }
[ ! -e "$root/usr/bin/libmatrixskin.so" ] || fail "the skin library lies beside the programs"
# The README's walk-through: the sample pattern file the package ships, sent to that device.
# Its update log goes to the user's state folder, never into the folder the command ran in.
mkdir -p "$work/home" "$work/cwd"
(cd "$work/cwd" && env -u MATRIX_UPDATE_LOG -u XDG_STATE_HOME HOME="$work/home" timeout -s KILL 60 \
  "$root/usr/bin/matrixctl" send --port 7 "$root/usr/share/matrix-update/sample.bin") \
  > "$work/send.out" 2>&1 || { tail -n 5 "$work/send.out" >&2; fail "sending the shipped sample.bin failed"; }
grep -q "已傳送共 300 行資料" "$work/send.out" || { tail -n 5 "$work/send.out" >&2; fail "the shipped sample.bin is not 300 records"; }
grep -q '"outcome":"complete"' "$work/home/.local/state/matrix-update/updates.log" 2>/dev/null ||
  fail "the installed matrixctl's update log is not in the user's state folder"
[ -z "$(ls -A "$work/cwd")" ] || fail "the installed matrixctl wrote into the folder it ran in: $(ls -A "$work/cwd")"

# The menu entry in Traditional Chinese too, as the dialog speaks it.
desktop="$root/usr/share/applications/matrix-update.desktop"
for key in 'Name[zh_TW]' 'Comment[zh_TW]'; do
  awk -F= -v key="$key" '$1 == key && $2 != "" { found = 1 } END { exit !found }' "$desktop" \
    || fail "the menu entry has no $key"
done

# The completion script loads in bash and completes commands and options, with and without
# the bash-completion helpers.
comp="$root/usr/share/bash-completion/completions/matrixctl"
complete_words() {  # complete_words HELPERS WORD...: what completing the last word offers
  local helpers=$1; shift
  bash -c '
    [ -z "$1" ] || source "$1"
    source "$2"; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 )); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _matrixctl matrixctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$helpers" "$comp" "$@"
}
# --port offers the COM numbers that ports lists (COM7 among them).
ports_want=$(sed -n 's/^COM\([0-9]*\)\t.*/\1/p' "$work/ports.out" | sort | tr '\n' ' ')
helpers_list=("")
[ -f /usr/share/bash-completion/bash_completion ] && helpers_list+=(/usr/share/bash-completion/bash_completion)
for helpers in "${helpers_list[@]}"; do
  while IFS='|' read -r words want; do
    # A line ending in a space completes a new, empty word.
    IFS=' ' read -r -a argv <<< "$words"
    [[ $words != *' ' ]] || argv+=("")
    got=$(PATH="$root/usr/bin:$PATH" complete_words "$helpers" "${argv[@]}")
    [ "$got" = "$want" ] || fail "completing '$words' (${helpers:-no helpers}) offers '$got', expected '$want'"
  done <<CASES
matrixctl |--help --version demo log pattern ports send simulate skin 
matrixctl s|send simulate skin 
matrixctl send --|--all-or-none --give-up-after --help --json --max-wrong-replies --port --quiet --reply-timeout --verbose 
matrixctl send -|--all-or-none --give-up-after --help --json --max-wrong-replies --port --quiet --reply-timeout --verbose -h -p -q -v 
matrixctl send --port |$ports_want
matrixctl send -p |$ports_want
matrixctl -|--help --version -V -h 
matrixctl pattern |--help check decode encode render 
matrixctl pattern encode --|--help --strict 
matrixctl pattern render -|--help --output --size -h -o 
matrixctl skin |--help extract list 
matrixctl simulate --reply g|garbage 
matrixctl ports --p|--probe 
matrixctl log -|--help --json --last --port -h -n -p 
matrixctl log --port |$ports_want
CASES
done
echo "check_package: $deb passed"
