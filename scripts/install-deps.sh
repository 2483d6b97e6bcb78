#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Runs apt only for what is missing, so that a prepared machine starts at once.
set -euo pipefail

packages=(
    build-essential cmake ninja-build clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    srecord mspdebug lrzsz python3-xmodem
    qt6-base-dev xvfb xauth
    nlohmann-json3-dev libmd-dev pkg-config
    lintian python3-jsonschema
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    as_root=()
    [[ $(id -u) -eq 0 ]] || as_root=(sudo)
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
