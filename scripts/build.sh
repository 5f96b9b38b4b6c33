#!/usr/bin/env bash
# Configures and builds into build/ (or the directory in BUILD_DIR). Extra arguments go to CMake's
# configure step, e.g. scripts/build.sh -DTHERMAL_SANITIZE=address
# With --viewer first, installs only what building and running need and builds the viewer, the
# video player and the tool: a build directory configured here for the first time gets no tests
# and no benchmarks, whose packages only scripts/test.sh installs. Without it, installs everything
# and builds everything, tests and benchmarks included.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
targets=()
if [ "${1:-}" = "--viewer" ]; then
  shift
  "$here/scripts/install-deps.sh"
  targets=(--target thermal-viewer VELKAviPlayer thermal)
  # An existing build keeps what it was configured with (scripts/test.sh's tests stay built).
  if [ ! -f "$build/CMakeCache.txt" ]; then
    set -- -DTHERMAL_BUILD_TESTS=OFF -DTHERMAL_BUILD_BENCH=OFF "$@"
  fi
else
  "$here/scripts/install-deps.sh" --test
  # Switches tests and benchmarks back on in a directory first built with --viewer; an explicit
  # -D...=OFF among the arguments still wins, as it comes later.
  set -- -DTHERMAL_BUILD_TESTS=ON -DTHERMAL_BUILD_BENCH=ON "$@"
fi
# ccache makes the second and later builds (the sanitizer builds, a rebuild after a small change)
# quick; paths are taken relative to the checkout so another clone reuses the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$here
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
