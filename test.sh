#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: a plain build,
# then one with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
corvanith_install_missing

export QT_QPA_PLATFORM=offscreen

corvanith_build build
(cd build && ctest --output-on-failure --parallel "$(nproc)")

# The sanitizer run skips the benchmarks: they are never run here.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
corvanith_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANITH_SANITIZE=ON -DCORVANITH_BENCH=OFF
(cd build-asan && ctest --output-on-failure --parallel "$(nproc)")
