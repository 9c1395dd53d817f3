#!/usr/bin/env bash
# Builds the plug-in and the command-line host, then runs the main job.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKOVALITH_BUILD_TESTS=OFF -DKOVALITH_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)"
./build/kovalith demo "$@"
