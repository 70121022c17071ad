#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets (tests/fuzz) with clang in build-fuzz and runs each one for a
# bounded time from its seed corpus. Exits non-zero on any finding (crash, sanitizer
# report, failed check, leak, time-out) or when a target cannot be built or run.
#
# Environment:
#   CORVANE_FUZZ_SECONDS  seconds per target (default 60)
#   CORVANE_FUZZ_TARGETS  space-separated target names (default: all fuzz_* targets)
#   CORVANE_FUZZ_JOBS     build jobs (default: the number of processors)
#   CORVANE_FUZZ_BUILD    build directory (default: build-fuzz)
# Findings are kept in <build dir>/findings/<target>/ and the work corpus in
# <build dir>/corpus/<target>/ (the repository's seeds are never written to).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${CORVANE_FUZZ_SECONDS:-60}
jobs=${CORVANE_FUZZ_JOBS:-$(nproc)}
build=${CORVANE_FUZZ_BUILD:-build-fuzz}

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "run-fuzz.sh: CORVANE_FUZZ_SECONDS must be a positive number of seconds" >&2
    exit 2
fi

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_FUZZ=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF \
    -DCORVANE_HID_BACKEND=emulator >/dev/null
cmake --build "$build" -j "$jobs" --target corvane_fuzz

targets=${CORVANE_FUZZ_TARGETS:-}
if [ -z "$targets" ]; then
    targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi

# Leaks are not looked for: the toolkit keeps caches for the process's life.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

failed=()
for target in $targets; do
    binary="$build/tests/fuzz/$target"
    seeds="tests/fuzz/corpus/$target"
    work="$build/corpus/$target"
    findings="$build/findings/$target"
    if [ ! -x "$binary" ]; then
        echo "run-fuzz.sh: $binary was not built" >&2
        failed+=("$target")
        continue
    fi
    mkdir -p "$work" "$findings"
    echo "== $target: ${seconds}s =="
    log="$build/findings/$target.log"
    # The seeds are read as a second corpus directory: new inputs go to the work corpus.
    seed_dirs=()
    [ -d "$seeds" ] && seed_dirs+=("$seeds")
    if "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "${seed_dirs[@]}" \
        >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^Done ' "$log" | tail -2 || true
    else
        echo "run-fuzz.sh: $target found a fault (log: $log, inputs: $findings/)" >&2
        tail -40 "$log" >&2
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "run-fuzz.sh: findings in: ${failed[*]}" >&2
    exit 1
fi
echo "run-fuzz.sh: no findings"
