#!/usr/bin/env bash
# build.sh DIR [cmake options...] [--target T...]: configures (once) and builds
# into DIR, every target or only those named after --target.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
options=()
while [[ $# -gt 0 && $1 != --target ]]; do
    options+=("$1")
    shift
done
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "$@"
