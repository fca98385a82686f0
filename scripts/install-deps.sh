#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: packages already present are left alone, and apt is only
# asked when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  xvfb xdotool x11-utils xauth xclip
  fonts-liberation fonts-arphic-uming
  libcli11-dev nlohmann-json3-dev libssl-dev libsystemd-dev
  libarchive-tools zip unzip python3
  procps
  dpkg-dev file lintian bash-completion
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev binutils-mingw-w64-x86-64 wine wine64
  librsvg2-bin icoutils wixl msitools x11-apps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
