#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need. Only asks apt when something
# is missing, so a second run returns at once.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache
    libgtest-dev libbenchmark-dev
    juce-modules-source juce-tools
    libxinerama-dev libxrandr-dev libxcursor-dev libx11-dev libxext-dev
    libfontconfig1-dev libfreetype-dev libasound2-dev
    xvfb xauth xdotool imagemagick
    clang libclang-rt-14-dev
    locales
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

if [ "${#missing[@]}" -eq 0 ]; then
    echo "setup: all packages present"
else
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

# The tests run under locales a host may set: one that writes one half as "0,5", and one whose
# capital I lowers to a dotless i.
for name in de_DE tr_TR; do
    if ! locale -a 2>/dev/null | grep -qix "$name\.utf-\?8"; then
        echo "setup: making the $name.UTF-8 locale"
        $sudo localedef -i "$name" -f UTF-8 "$name.UTF-8" \
            || echo "setup: no $name.UTF-8 locale; the tests that need it run in the C locale only" >&2
    fi
done
