#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   HALVENNA_SANITIZE=1 ./test.sh   the same with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh test

build=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVENNA_BUILD_TESTS=ON -DHALVENNA_BUILD_BENCH=ON)
if [ "${HALVENNA_SANITIZE:-0}" = 1 ]; then
    build=build-sanitize
    args=(-DCMAKE_BUILD_TYPE=Debug -DHALVENNA_SANITIZE=ON -DHALVENNA_BUILD_TESTS=ON -DHALVENNA_BUILD_BENCH=OFF)
fi
cmake -S . -B "$build" -G Ninja "${args[@]}"
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
