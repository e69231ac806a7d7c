#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the agent need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev libgl-dev libssl-dev openssl
  googletest libgtest-dev
  fonts-noto-cjk            # the Chinese texts of dialogs and menus
  curl ca-certificates procps
  softhsm2 opensc           # the PKCS#11 test token and its set-up tool
  "$@"
)

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
