#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the tests and the demo need and the
# machine does not have yet. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libcurl4-openssl-dev libsodium-dev libx11-dev
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev
    libgtest-dev libgmock-dev
    nginx-light openssl curl time tinyproxy-bin
    xvfb xauth x11-utils fonts-dejavu-core
    python3
    qt6-translations-l10n
    clang dpkg-dev file lintian desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
