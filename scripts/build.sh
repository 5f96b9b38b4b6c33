#!/usr/bin/env bash
# Configures and builds into build/ (or the directory in BUILD_DIR). Extra arguments go to CMake's
# configure step, e.g. scripts/build.sh -DTHERMAL_SANITIZE=address
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build=${BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
