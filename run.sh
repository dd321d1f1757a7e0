#!/usr/bin/env bash
# Installs what is missing for building and running (not the test tools), builds, lays the program
# out in dist/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh run
# Without the tests and benchmarks, which need tools only ./test.sh installs; ./test.sh turns them on
# again in the same build folder (the program's own objects stay as they are).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVENNA_BUILD_TESTS=OFF -DHALVENNA_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target Kelvaro halvenna_mktables
cmake --install build --prefix dist
exec ./dist/Kelvaro "$@"
