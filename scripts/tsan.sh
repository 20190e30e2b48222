#!/usr/bin/env bash
# Builds the processor tests with ThreadSanitizer and runs the ones that process audio while
# another thread changes parameters and state.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-tsan"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVL_TSAN=ON -DQVL_BUILD_BENCH=OFF > "$build/configure.log"
cmake --build "$build" -j"$(nproc)" --target qvl_plugin_tests

TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    "$build/tests/qvl_plugin_tests" --gtest_filter='AudioPathThreads.*'
echo "tsan: no data races found"
