#!/usr/bin/env bash
# Installs the Debian packages VornTerm needs that are not there yet.
#   scripts/deps.sh          what building and running needs
#   scripts/deps.sh --test   and what the tests need as well
set -euo pipefail

packages=(qt6-base-dev qt6-serialport-dev libgl-dev cmake g++ make)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(socat ser2net lrzsz g++-mingw-w64-i686 locales clang libclang-rt-14-dev lld)
  # scripts/check-install.sh: the validators, the Debian package tools and a
  # private X server with the accessibility bus for the start-up box check.
  packages+=(desktop-file-utils appstream man-db groff-base dpkg-dev file xvfb dbus-daemon
             dbus-bin at-spi2-core python3-pyatspi python3-gi gir1.2-atspi-2.0)
  # bench/bench_pacedrate: the X server's damage reports.
  packages+=(pkg-config libxcb-damage0-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
