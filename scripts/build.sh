#!/usr/bin/env bash
# Configures and builds into build/ (or the directory in BUILD_DIR). Extra arguments go to CMake's
# configure step, e.g. scripts/build.sh -DTHERMAL_SANITIZE=address
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build=${BUILD_DIR:-$here/build}
# ccache makes the second and later builds (the sanitizer builds, a rebuild after a small change)
# quick; paths are taken relative to the checkout so another clone reuses the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$here
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
