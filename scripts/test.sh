#!/usr/bin/env bash
# Every test: the plain build, AddressSanitizer with UndefinedBehaviorSanitizer,
# ThreadSanitizer for the threaded parts, and each fuzz target for a bounded time
# from its seed corpus (scripts/fuzz-long.sh runs them for longer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

fuzz_seconds=${FUZZ_SECONDS:-30}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# Each stage's start names the minutes so far: the whole run has to stay
# well inside CI's time limit, and this shows where the time goes.
stage() { echo "== $1 (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "plain build"
scripts/build.sh build-test -DUPDATE_QT=ON -DUPDATE_BENCH=ON
QT_QPA_PLATFORM=offscreen ctest --test-dir build-test -j"$(nproc)" --output-on-failure

stage "Debian package"
scripts/check-package.sh build-test

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DUPDATE_QT=ON -DUPDATE_BENCH=OFF -DUPDATE_SANITIZE=ON
# The font library keeps its caches until exit by design; only that is suppressed.
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-qt.supp QT_QPA_PLATFORM=offscreen \
    ctest --test-dir build-asan -j"$(nproc)" --output-on-failure

stage "ThreadSanitizer (loop, serial line)"
# ThreadSanitizer cannot map its shadow memory with the newest kernels'
# address-space randomisation; setarch turns that off for the run alone.
# Only the suites it runs are built: the rest would cost minutes and run nowhere.
tsan_suites=(platform_tests serial_tests app_tests)
scripts/build.sh build-tsan -DUPDATE_QT=OFF -DUPDATE_BENCH=OFF -DUPDATE_TSAN=ON \
    --target "${tsan_suites[@]}"
setarch "$(uname -m)" -R ctest --test-dir build-tsan -j"$(nproc)" --output-on-failure \
    -L "$(IFS='|'; echo "${tsan_suites[*]}")" --no-tests=error

stage "fuzz targets, ${fuzz_seconds} s each"
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DUPDATE_QT=OFF -DUPDATE_TESTS=OFF \
    -DUPDATE_BENCH=OFF -DUPDATE_FUZZ=ON
for target in build-fuzz/fuzz/*/fuzz_*; do
    [[ -x $target ]] || continue
    corpus=$(mktemp -d)
    seeds=fuzz/corpus/$(basename "$target")
    [[ -d $seeds ]] && cp "$seeds"/* "$corpus"/
    echo "-- $(basename "$target")"
    if ! "$target" -max_total_time="$fuzz_seconds" -max_len=200000 -rss_limit_mb=2048 \
        -print_final_stats=0 "$corpus" >"$corpus.log" 2>&1; then
        tail -n 60 "$corpus.log"
        exit 1
    fi
    tail -n 2 "$corpus.log"
    rm -f "$corpus.log"
    rm -rf "$corpus"
done
stage "all tests passed"
