#!/usr/bin/env bash
# fuzz-long.sh [SECONDS] [TARGET=SECONDS...]: runs every fuzz target for its
# budget (default 600 s each) from a scratch copy of its seed corpus in
# fuzz/corpus/TARGET/, then prints executions and coverage per target.
# Not part of scripts/test.sh. A finding stops the run; the reproducer is
# kept and its path printed.
set -euo pipefail
cd "$(dirname "$0")/.."

default_seconds=600
if [[ $# -gt 0 && $1 != *=* ]]; then
    default_seconds=$1
    shift
fi
declare -A budget=()
for override in "$@"; do
    [[ $override == fuzz_*=+([0-9]) ]] || { echo "usage: $0 [SECONDS] [TARGET=SECONDS...]" >&2; exit 64; }
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
rows=()
for target in build-fuzz/fuzz/*/fuzz_*; do
    [[ -x $target ]] || continue
    name=$(basename "$target")
    seconds=${budget[$name]:-$default_seconds}
    corpus=$scratch/$name
    mkdir -p "$corpus"
    [[ -d fuzz/corpus/$name ]] && cp fuzz/corpus/"$name"/* "$corpus"/
    log=$scratch/$name.log
    echo "-- $name, $seconds s" >&2
    if ! "$target" -max_total_time="$seconds" -max_len="${max_len[$name]:-200000}" \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$scratch/$name-" \
        "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        kept=$(mktemp -d /tmp/fuzz-finding-XXXXXX)
        cp "$scratch/$name"-* "$kept"/ 2>/dev/null || true
        echo "$name found a fault; reproducer in $kept" >&2
        exit 1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    done_line=$(grep -a 'DONE *cov:' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    rows+=("$(printf '%-28s %8s %12s %6s %7s' "$name" "$seconds" "$execs" "${cov:-?}" "${ft:-?}")")
done
printf '%-28s %8s %12s %6s %7s\n' target seconds executions cov ft
printf '%s\n' "${rows[@]}"
