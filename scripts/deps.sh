#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, but only those missing.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-pdf-dev libgl1-mesa-dev
    libsqlite3-dev sqlite3
    fonts-ipafont-gothic skkdic-extra
    libgtest-dev libbenchmark-dev
    xvfb xauth xdotool poppler-utils python3 python3-xlib
    cups cups-client cups-bsd printer-driver-cups-pdf
    postgresql libpq-dev openssl
    clang libclang-rt-14-dev clang-format
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
