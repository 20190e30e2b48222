#!/usr/bin/env bash
# Installs what is missing, builds everything (plug-in, tools, tests, benchmarks) in ./build
# and runs every test under a private virtual display; then the two fuzzers, 30 seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# CI may start without HOME; the cache and the fuzz script need one.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"
# Paths below the checkout are hashed relative to it, so another clone reuses the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
jobs="$(nproc)"

started=$(date +%s)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
# The default target holds the plug-in, qvl_host, every test executable and qvl_bench.
cmake --build build -j"$jobs"
built=$(date +%s)

# A display number nobody uses, so parallel runs on one machine do not meet.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done

# Large enough for the editor at full size (it is limited to 90 % of the screen).
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() { kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM
export DISPLAY=":$display"

for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "test: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done

# A hung test must not eat the whole CI budget.
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)
tested=$(date +%s)

echo "test: build $((built - started)) s, tests $((tested - built)) s"

if [ -f scripts/fuzz.sh ]; then
    bash scripts/fuzz.sh 30
fi

# Processing while another thread automates parameters and swaps state, under ThreadSanitizer.
bash scripts/tsan.sh
