#!/usr/bin/env bash
# Builds everything and runs every test. With --asan, builds with clang into build-asan/ with
# AddressSanitizer and all of UndefinedBehaviorSanitizer (float-cast-overflow included, which GCC
# does not check) and the fuzz harnesses of fuzz/, and runs the same tests there plus one replay
# of each harness's corpus. With --tsan, builds the core alone (no Qt, no benchmarks) into
# build-tsan/ with ThreadSanitizer and runs the tests of its threaded parts: frame pipeline and
# queue, serial port and reply list against the simulated module, the module session (also
# against faulty modules), the recorder opened and closed under the processing thread's writes,
# play-back, workbook exports from several threads, and the frame run on its own thread.
# THERMAL_WERROR=ON (as continuous integration sets it) makes every compiler warning an error.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
cmake_args=(-DTHERMAL_WERROR="${THERMAL_WERROR:-OFF}")
ctest_args=(-j "$(nproc)")
case "${1:-}" in
  --asan)
    build=$here/build-asan
    cmake_args+=(-DTHERMAL_SANITIZE=address -DTHERMAL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
                -DTHERMAL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    # A build directory configured with another compiler cannot switch to clang in place.
    if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' \
        "$build/CMakeCache.txt"; then
      rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
    fi
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ;;
  --tsan)
    build=$here/build-tsan
    cmake_args+=(-DTHERMAL_SANITIZE=thread -DTHERMAL_BUILD_GUI=OFF -DTHERMAL_BUILD_BENCH=OFF
                -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    # One at a time: the session tests time the module's answers, which the sanitizer slows.
    ctest_args=(-R '^(FrameRun|FramePipeline|FrameQueue|SerialPort|ReplyList|ModuleSimulator|ModuleSession|RecorderThreads|StreamPlayerTest|WorkbookThreads|FrameAccounting)\.')
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    ;;
esac
BUILD_DIR=$build "$here/scripts/build.sh" "${cmake_args[@]}"
ctest --test-dir "$build" --output-on-failure "${ctest_args[@]}"
