#!/usr/bin/env bash
# Builds the host-state fuzzer with clang, ASan and UBSan, replays the saved regression
# inputs, then fuzzes for the given number of seconds (default 30).
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQVL_BUILD_FUZZER=ON > "$build/configure.log"
cmake --build "$build" -j"$(nproc)" --target qvl_fuzz_state

# Each run has its own corpus and artifact folders, so two runs never share one.
run_dir="$(mktemp -d "$build/run.XXXXXX")"
trap 'rm -rf "$run_dir/corpus"' EXIT
work="$run_dir/corpus"
artifacts="$run_dir/artifacts"
mkdir -p "$work" "$artifacts"
export QVL_FUZZ_SEED_DIR="$work"

fuzzer="$build/fuzz/qvl_fuzz_state"
options=(-max_len=65536 -malloc_limit_mb=64 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/")

# Every input that ever failed stays in fuzz/regressions and must keep passing.
regressions=("$root"/fuzz/regressions/*)
if [ -e "${regressions[0]}" ]; then
    "$fuzzer" "${options[@]}" "${regressions[@]}"
fi

"$fuzzer" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work"
echo "fuzz: no findings in ${seconds}s"
