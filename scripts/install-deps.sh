#!/usr/bin/env bash
# Installs what building, running and testing need on a Debian machine (run as root,
# or with sudo available). Packages already present are left alone.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    juce-modules-source
    libwebkit2gtk-4.1-dev libgtk-3-dev
    libcurl4-openssl-dev libssl-dev openssl ca-certificates curl
    libgtest-dev libgmock-dev libcpp-httplib-dev
    clang libclang-rt-14-dev
    xvfb xdotool x11-utils imagemagick
    chromium
    python3 procps
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The page tests drive Debian's chromium through playwright-core (no browser download).
if [ -f tests/page/package-lock.json ]; then
    (cd tests/page && npm ci --no-audit --no-fund --loglevel=error)
fi
