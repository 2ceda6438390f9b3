#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: a plain build,
# then one with AddressSanitizer and UndefinedBehaviorSanitizer.
# --tsan instead builds with ThreadSanitizer and runs the worker-pool tests
# (Qt's own uninstrumented threads would make the painting tests report).
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
corvanith_install_missing

export QT_QPA_PLATFORM=offscreen

# run_tests DIR [ctest options...]: the tests of one build, then each skipped
# test with the reason it gave, which ctest's own summary leaves out.
run_tests() {
    local dir="$1"
    shift
    (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)" "$@")
    awk '/^\[ RUN +\]/ { test = $NF } skipped { print "  " test ": " $0; skipped = 0 } / Skipped$/ { skipped = 1 }' \
        "$dir/Testing/Temporary/LastTest.log" | sed '1i Skipped, and why:'
}

if [ "${1:-}" = "--tsan" ]; then
    export TSAN_OPTIONS=halt_on_error=1
    corvanith_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DCORVANITH_BENCH=OFF \
        -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
    run_tests build-tsan -R '^(ThreadPool|ThreadCounts|AutoResetEvent|Parallizers)\.'
    exit 0
fi

corvanith_build build
run_tests build

# The sanitizer run skips the benchmarks: they are never run here.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
corvanith_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANITH_SANITIZE=ON -DCORVANITH_BENCH=OFF
run_tests build-asan
