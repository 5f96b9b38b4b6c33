#!/usr/bin/env bash
# Builds everything and runs every test. With --asan, builds into build-asan/ with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the same tests there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
cmake_args=()
if [ "${1:-}" = "--asan" ]; then
  build=$here/build-asan
  cmake_args=(-DTHERMAL_SANITIZE=address -DTHERMAL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
BUILD_DIR=$build "$here/scripts/build.sh" "${cmake_args[@]}"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
