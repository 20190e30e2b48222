#!/usr/bin/env bash
# Opens and closes editors of several instances in one host, under automation, again and again
# while every core is kept busy: `qvl_host editor --instances N --reopen 20` RUNS times (default 50)
# for N = 4, 2 and 1. Prints how many runs ended by a signal, failed, met a SIGPIPE or hung, and
# passes only when none did. qvl_host survives a SIGPIPE and only says so on stderr, so a run whose
# stderr holds that line failed, whatever its exit code. Not part of CI: it takes about half an
# hour. Needs a build (scripts/test.sh).
#
#   bash scripts/stress-editors.sh            # 50 runs of each
#   RUNS=5 bash scripts/stress-editors.sh     # a quick look; BUNDLE=path/to.vst3 tries another build,
#                                             # QVL_HOST=path/to/qvl_host another host
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stress-common.sh

runs="${RUNS:-50}"
seconds="${SECONDS_PER_RUN:-8}"
host="${QVL_HOST:-build/tools/qvl_host}"
bundle="${BUNDLE:-build/Quorvalis1_artefacts/Release/VST3/Quorvalis1.vst3}"
logs=build/stress-editors
command -v Xvfb >/dev/null || { echo "stress: Xvfb is not installed (bash scripts/setup.sh)" >&2; exit 1; }

if [ ! -x "$host" ] || [ ! -d "$bundle" ]; then
    echo "stress: build first (bash scripts/test.sh)" >&2
    exit 1
fi

rm -rf "$logs"
mkdir -p "$logs"

# A display of our own, so nothing else on the machine sees these windows.
display=120
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
pids=("$!")
export DISPLAY=":$display"
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done

keep_cores_busy

bad=0
printf '%-10s %6s %18s %8s %8s %6s\n' instances runs "ended by a signal" failed SIGPIPE hung

for instances in 4 2 1; do
    signalled=0 failed=0 sigpipe=0 hung=0

    for run in $(seq "$runs"); do
        log="$logs/$instances-$run"
        timeout -k 10 300 "$host" editor "$bundle" --instances "$instances" --reopen 20 --seconds "$seconds" \
            --signal sine --check-finite >"$log.out" 2>"$log.err"
        count_outcome $?
        problem="$outcome"

        if grep -q "qvl_host: SIGPIPE ignored" "$log.err"; then
            sigpipe=$((sigpipe + 1))
            problem="${problem:+$problem, }met a SIGPIPE"
        fi

        if [ -n "$problem" ]; then
            bad=$((bad + 1))
            echo "stress: $instances instances, run $run $problem; see $log.err" >&2
        else
            rm -f "$log.out" "$log.err"
        fi
    done

    printf '%-10s %6s %18s %8s %8s %6s\n' "$instances" "$runs" "$signalled" "$failed" "$sigpipe" "$hung"
done

if [ "$bad" -ne 0 ]; then
    echo "stress: FAILED ($bad bad runs; logs in $logs)"
    exit 1
fi

echo "stress: passed"
