#!/usr/bin/env bash
# Builds the processor tests with a sanitizer ("thread", "address" or "undefined"). The first two
# run the tests where other threads process audio, change parameters, restore the state and change
# the sample rate while the editor refreshes, paints, opens and closes; "undefined" runs the test
# that sets every parameter to NaN while audio plays and the odd host conditions (broken input,
# positions and tempi no song has). JOBS limits the build's parallelism (default: all cores).
set -euo pipefail
kind="${1:-}"
filter='AudioPathThreads.*'
case "$kind" in
    thread)    option=QVL_TSAN; build_name=build-tsan; found="tsan: no data races found"
               export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}" ;;
    address)   option=QVL_ASAN; build_name=build-asan; found="asan: no memory errors found" ;;
    undefined) option=QVL_UBSAN; build_name=build-ubsan; found="ubsan: no undefined behaviour found"
               filter='HostNaN.*:HostConditions.*'
               export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1 print_stacktrace=1}" ;;
    *)         echo "usage: $0 thread|address|undefined" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/$build_name"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -D"$option"=ON -DQVL_BUILD_BENCH=OFF > "$build/configure.log"
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target qvl_plugin_tests

"$build/tests/qvl_plugin_tests" --gtest_filter="$filter"
echo "$found"
