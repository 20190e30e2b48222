#!/usr/bin/env bash
# Builds the fuzzers with clang, ASan and UBSan: the host-state reader and the reader of preset
# and settings files. Each replays its saved regression inputs, then fuzzes for the given number
# of seconds (default 30); each gets the whole time, so a run fuzzes for twice that. JOBS limits
# the build's parallelism (default: all cores).
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQVL_BUILD_FUZZER=ON > "$build/configure.log"
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target qvl_fuzz_state qvl_fuzz_xml

# Each run has its own corpus and artifact folders, so two runs never share one.
run_dir="$(mktemp -d "$build/run.XXXXXX")"
trap 'rm -rf "$run_dir/corpus"' EXIT

# fuzz NAME REGRESSION_FOLDER OPTIONS...
fuzz() {
    local name="$1" regressions="$2"
    shift 2
    local work="$run_dir/corpus/$name" artifacts="$run_dir/artifacts/$name"
    local fuzzer="$build/fuzz/qvl_fuzz_$name"
    local options=("$@" -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/")
    mkdir -p "$work" "$artifacts"
    export QVL_FUZZ_SEED_DIR="$work"

    # Every input that ever failed stays in its regression folder and must keep passing.
    local inputs=()
    while IFS= read -r -d '' file; do inputs+=("$file"); done \
        < <(find "$regressions" -maxdepth 1 -type f -print0 | sort -z)
    if [ "${#inputs[@]}" -gt 0 ]; then
        "$fuzzer" "${options[@]}" "${inputs[@]}"
    fi

    "$fuzzer" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work"
}

fuzz state "$root/fuzz/regressions" -max_len=65536 -malloc_limit_mb=64
# Long enough for the crafted seeds, up to 900 KB.
fuzz xml "$root/fuzz/regressions/xml" -max_len=1048576 -malloc_limit_mb=256 -dict="$root/fuzz/xml.dict"
echo "fuzz: no findings in ${seconds}s for each fuzzer"
