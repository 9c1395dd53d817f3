#!/usr/bin/env bash
# Builds everything and runs the whole test suite, first in the release build,
# then in the sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer).
# --quick skips the sanitizer pass and the extra jobs at the end.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
jobs="$(nproc)"

# Tests and benchmarks are switched on explicitly: ./run.sh shares this build
# directory and configures it without them.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKOVALITH_WERROR=ON \
      -DKOVALITH_BUILD_TESTS=ON -DKOVALITH_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
# Qtractor's plug-in scan finds the installed CLAP plug-in.
tests/clap/qtractor-scan.sh build

# The Windows DLLs (32- and 64-bit), cross-built and tested under Wine against
# the Linux build above.
scripts/test-windows.sh

if [ "${1:-}" != "--quick" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKOVALITH_SANITIZE=ON -DKOVALITH_WERROR=ON \
        -DKOVALITH_BUILD_TESTS=ON -DKOVALITH_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"

  # ThreadSanitizer, the fuzzers, and Ardour hosting the packaged plug-in; each
  # script also runs alone. They skip with a message when their tools are missing.
  scripts/ci-tsan.sh
  scripts/ci-fuzz.sh
  tests/realhost/run.sh build
  tests/realhost/lv2.sh build
  tests/realhost/vst3.sh build
fi
