# Sourced by the stress scripts.

# One busy loop per core, at the caller's priority; their ids are added to the array pids.
keep_cores_busy() {
    for _ in $(seq "$(nproc)"); do
        (while :; do :; done) &
        pids+=("$!")
    done
}

# start_busy_runs LOG_DIR: a fresh log folder, every core kept busy, and the busy loops (and whatever
# else is in pids) ended when the script ends.
start_busy_runs() {
    rm -rf "$1"
    mkdir -p "$1"
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
    trap 'exit 130' INT TERM
    keep_cores_busy
}

# count_outcome EXIT_CODE (of `timeout ... command`): adds the run to hung, signalled or failed and
# sets outcome to how it ended; outcome is empty for a clean exit.
count_outcome() {
    outcome=""
    if [ "$1" -eq 124 ]; then
        hung=$((hung + 1)); outcome="hung"
    elif [ "$1" -gt 128 ]; then
        signalled=$((signalled + 1)); outcome="ended by signal $(($1 - 128))"
    elif [ "$1" -ne 0 ]; then
        failed=$((failed + 1)); outcome="exited $1"
    fi
}
