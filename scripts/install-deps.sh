#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Quillet.
# Idempotent and quiet when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml-dev
  libssl-dev libcurl4-openssl-dev
  duktape-dev liblitehtml-dev libgumbo-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-noto-cjk libfribidi-dev
  libpng-dev libjpeg-dev libgif-dev libsdl2-dev
  python3 curl openssl
  tinyproxy dante-server apache2 nginx newsboat
  xvfb xdotool xclip x11-xserver-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Services installed here (web servers, proxies) are started by the tests
# themselves on loopback ports; keep the package scripts from starting them.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
