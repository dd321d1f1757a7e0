#!/usr/bin/env bash
# Installs what is missing, builds, lays the program out in dist/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target Kelvaro halvenna_mktables
cmake --install build --prefix dist
exec ./dist/Kelvaro "$@"
