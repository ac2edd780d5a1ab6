#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for SECONDS each, JOBS at a time, with leak detection,
# then prints one line per target: edges covered, features, runs, seconds, outcome.
# usage: run.sh BUILD_DIR SECONDS [JOBS] [NAME_REGEX]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
jobs=${3:-$(nproc)}
filter=${4:-.}
here=$(cd "$(dirname "$0")/../.." && pwd)
logs=$build/fuzz/logs
artifacts=$build/fuzz/artifacts
mkdir -p "$logs" "$artifacts"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0
export LSAN_OPTIONS=suppressions=$here/tests/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

targets=()
for f in "$build"/fuzz/targets/*; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    [[ $name =~ $filter ]] && targets+=("$name")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets in $build" >&2
    exit 1
fi

run_one() { # name
    local name=$1 line exe
    read -r -a line <"$build/fuzz/targets/$name"
    exe=${line[0]}
    # A private HOME and temp folder per target: some write files there. Databases are synced
    # on every commit, so the temp folder goes to memory when the system has a tmpfs for it.
    local home=$build/fuzz/home/$name tmp
    rm -rf "$home"
    mkdir -p "$home"
    if [ -d /dev/shm ] && [ -w /dev/shm ]; then
        tmp=$(mktemp -d /dev/shm/tw-fuzz-XXXXXX)
    else
        tmp=$(mktemp -d "$home/tmp-XXXXXX")
    fi
    local start=$SECONDS rc=0
    HOME=$home TMPDIR=$tmp timeout $((seconds + 120)) "$exe" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "${line[@]:1}" >"$logs/$name.log" 2>&1 || rc=$?
    rm -rf "$tmp"
    echo "$rc $((SECONDS - start))" >"$logs/$name.result"
}
export -f run_one
export build seconds logs artifacts

echo "Fuzzing ${#targets[@]} targets for ${seconds} s each, $jobs at a time (logs in $logs)"
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

failed=0
printf '%-34s %8s %8s %10s %6s  %s\n' target edges features runs sec outcome
for name in "${targets[@]}"; do
    log=$logs/$name.log
    read -r rc took <"$logs/$name.result"
    # The last status line holds the final figures ("#N DONE cov: E ft: F ...").
    status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    edges=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$status")
    features=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$status")
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log")
    outcome=ok
    if [ "$rc" != 0 ]; then
        outcome="FAILED (exit $rc)"
        failed=1
    fi
    printf '%-34s %8s %8s %10s %6s  %s\n' "$name" "${edges:--}" "${features:--}" "${runs:--}" \
        "$took" "$outcome"
done
if [ $failed -ne 0 ]; then
    for name in "${targets[@]}"; do
        read -r rc took <"$logs/$name.result"
        [ "$rc" = 0 ] && continue
        echo "==== $name (last lines of $logs/$name.log)"
        grep -v -E '^#[0-9]+' "$logs/$name.log" | tail -n 60
    done
    exit 1
fi
