#!/usr/bin/env bash
# A switch set between off and on by the host with the editor open, the way that once reached the
# host on the wrong thread and without end: `qvl_host switch-echo` closing the editor at once
# (20 rounds a run) and with a host that insists on its value, RUNS times each (default 50), while
# every core is kept busy. A run fails when the plug-in called the host off its UI thread, when
# the insisting host heard more than once, or when the last report never came. Prints the counts
# and passes only when no run failed, hung or ended by a signal. Not part of CI. Needs a build
# (scripts/test.sh) and a display (DISPLAY).
#
#   DISPLAY=:57 bash scripts/stress-echo.sh
#   RUNS=5 DISPLAY=:57 bash scripts/stress-echo.sh     # a quick look; HOST=... BUNDLE=... try another build
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stress-common.sh

runs="${RUNS:-50}"
host="${HOST:-build/tools/qvl_host}"
bundle="${BUNDLE:-build/Quorvalis1_artefacts/Release/VST3/Quorvalis1.vst3}"
logs=build/stress-echo

if [ ! -x "$host" ] || [ ! -d "$bundle" ]; then
    echo "stress: build first (bash scripts/test.sh)" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ]; then
    echo "stress: needs a display (DISPLAY)" >&2
    exit 1
fi

start_busy_runs "$logs"

# value KEY LOG: the number after "KEY: " in the log, or -1.
value() { sed -n "s/^$1: //p" "$2" | head -n 1 | grep -E '^[0-9]+$' || echo -1; }

signalled=0 failed=0 hung=0 offThread=0
for run in $(seq "$runs"); do
    for mode in rounds insist; do
        log="$logs/$run-$mode.log"
        if [ "$mode" = rounds ]; then args=(--rounds 20); else args=(--insist); fi
        timeout -k 10 300 "$host" switch-echo "$bundle" "${args[@]}" >"$log" 2>&1
        count_outcome $?

        if [ -z "$outcome" ]; then
            off=$(value "host calls off the ui thread" "$log")
            offThread=$((offThread + (off > 0 ? off : 0)))
            if [ "$off" -ne 0 ] || [ "$(value "last switch reports" "$log")" -ne 1 ] \
               || { [ "$mode" = insist ] && [ "$(value "switch reports" "$log")" -ne 1 ]; } \
               || grep -q "SIGPIPE" "$log"; then
                failed=$((failed + 1)); outcome="counted wrong"
            fi
        fi

        if [ -n "$outcome" ]; then
            echo "stress: run $run ($mode) $outcome; see $log" >&2
        else
            rm -f "$log"
        fi
    done
done

printf '%6s %18s %8s %6s %22s\n' runs "ended by a signal" failed hung "calls off the UI thread"
printf '%6s %18s %8s %6s %22s\n' "$((2 * runs))" "$signalled" "$failed" "$hung" "$offThread"

if [ $((signalled + failed + hung)) -ne 0 ]; then
    echo "stress: FAILED (logs in $logs)"
    exit 1
fi

echo "stress: passed"
