#!/usr/bin/env bash
# Host threads saving and restoring the state while the message thread loads presets, takes MIDI
# preset changes and presses "Reset", with the editor open and audio running: the Release build's
# thread test run RUNS times (default 50), each in its own process repeating the test REPEAT
# times (default 3), while every core is kept busy. Prints how many runs ended by a signal,
# failed or hung, and passes only when none did. Not part of CI. Needs a build (scripts/test.sh).
#
#   bash scripts/stress-state.sh              # 50 runs
#   RUNS=5 bash scripts/stress-state.sh       # a quick look; TESTS=path/to/qvl_plugin_tests tries another build
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stress-common.sh

runs="${RUNS:-50}"
repeat="${REPEAT:-3}"
tests="${TESTS:-build/tests/qvl_plugin_tests}"
filter="${FILTER:-AudioPathThreads.PresetsAndResetWhileHostThreadsSaveAndRestore}"
logs=build/stress-state

if [ ! -x "$tests" ]; then
    echo "stress: build first (bash scripts/test.sh)" >&2
    exit 1
fi

start_busy_runs "$logs"

signalled=0 failed=0 hung=0
for run in $(seq "$runs"); do
    log="$logs/$run.log"
    timeout -k 10 900 "$tests" --gtest_filter="$filter" --gtest_repeat="$repeat" >"$log" 2>&1
    count_outcome $?

    if [ -n "$outcome" ]; then
        echo "stress: run $run $outcome; see $log" >&2
    else
        rm -f "$log"
    fi
done

printf '%6s %18s %8s %6s\n' runs "ended by a signal" failed hung
printf '%6s %18s %8s %6s\n' "$runs" "$signalled" "$failed" "$hung"

if [ $((signalled + failed + hung)) -ne 0 ]; then
    echo "stress: FAILED (logs in $logs)"
    exit 1
fi

echo "stress: passed"
