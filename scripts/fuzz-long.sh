#!/usr/bin/env bash
# fuzz-long.sh [--runs N] [--jobs N] [SECONDS] [TARGET=SECONDS...]: runs every
# fuzz target for its budget (default 600 s each) from a scratch copy of its
# seed corpus in fuzz/corpus/TARGET/, then prints executions and coverage per
# target. --runs ends a target early once it has run N inputs; --jobs runs
# that many targets at once. Not part of scripts/test.sh. A finding fails the
# run; the reproducer is kept and its path printed.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: $0 [--runs N] [--jobs N] [SECONDS] [TARGET=SECONDS...]" >&2
    exit 64
}
default_seconds=600
runs=-1
jobs=1
while [[ $# -gt 0 && $1 == --* ]]; do
    [[ $# -ge 2 && $2 == +([0-9]) ]] || usage
    case $1 in
    --runs) runs=$2 ;;
    --jobs) jobs=$2 ;;
    *) usage ;;
    esac
    shift 2
done
[[ $jobs -ge 1 ]] || usage
if [[ $# -gt 0 && $1 != *=* ]]; then
    [[ $1 == +([0-9]) ]] || usage
    default_seconds=$1
    shift
fi
declare -A budget=()
for override in "$@"; do
    [[ $override == fuzz_*=+([0-9]) ]] || usage
    budget[${override%%=*}]=${override#*=}
done

# Inputs longer than these only repeat what a shorter one reaches: each
# bound covers several fills of the buffer or table the target guards.
declare -A max_len=(
    [fuzz_config_readers]=16384
    [fuzz_language]=4096
    [fuzz_titxt]=16384
    [fuzz_term_announcements]=16384
    [fuzz_instrument_sim]=4096
    [fuzz_reply_parser]=8192
    [fuzz_loader_replies]=8192
    [fuzz_device_loader_replies]=4096
    [fuzz_xmodem]=4096
)

CC=clang CXX=clang++ scripts/build.sh build-fuzz -DUPDATE_QT=OFF -DUPDATE_TESTS=OFF \
    -DUPDATE_BENCH=OFF -DUPDATE_FUZZ=ON

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One target; its table row goes to $scratch/NAME.row, a finding to stderr.
fuzz_target() {
    local target=$1 name seconds corpus log
    name=$(basename "$target")
    seconds=${budget[$name]:-$default_seconds}
    corpus=$scratch/$name
    log=$scratch/$name.log
    mkdir -p "$corpus"
    [[ -d fuzz/corpus/$name ]] && cp fuzz/corpus/"$name"/* "$corpus"/
    echo "-- $name, $seconds s" >&2
    if ! "$target" -max_total_time="$seconds" -runs="$runs" -max_len="${max_len[$name]:-200000}" \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$scratch/$name-" \
        "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        local kept
        kept=$(mktemp -d /tmp/fuzz-finding-XXXXXX)
        cp "$scratch/$name"-* "$kept"/ 2>/dev/null || true
        echo "$name found a fault; reproducer in $kept" >&2
        return 1
    fi
    local execs elapsed done_line cov ft
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    elapsed=$(grep -ao 'Done [0-9]* runs in [0-9]* second' "$log" | awk '{print $5}' | tail -n 1)
    done_line=$(grep -a 'DONE *cov:' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    printf '%-28s %8s %12s %6s %7s\n' "$name" "${elapsed:-$seconds}" "$execs" "${cov:-?}" \
        "${ft:-?}" >"$scratch/$name.row"
}

failed=0
for target in build-fuzz/fuzz/*/fuzz_*; do
    [[ -x $target ]] || continue
    while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do
        wait -n || failed=1
    done
    fuzz_target "$target" &
done
while [[ $(jobs -rp | wc -l) -gt 0 ]]; do
    wait -n || failed=1
done
wait || failed=1

printf '%-28s %8s %12s %6s %7s\n' target seconds executions cov ft
cat "$scratch"/*.row 2>/dev/null || true
exit "$failed"
