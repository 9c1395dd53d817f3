#!/usr/bin/env bash
# ThreadSanitizer job: builds the plug-in module, the command-line host and the
# shell's tests with -fsanitize=thread in build-tsan, then runs the tests that
# drive the effect from several threads at once. Every report fails the job,
# except those listed in tests/tsan/suppressions.txt (each says why).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
[ "$jobs" -gt 2 ] && jobs=2

flags="-fsanitize=thread -O1 -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKOVALITH_WERROR=ON \
      -DKOVALITH_BUILD_TESTS=ON -DKOVALITH_BUILD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
      -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j"$jobs" --target Kovalith kovalith test_plugin
cmake --build build-tsan -j"$jobs" --target KovalithClap test_clap

# The longest access history: the audio thread makes many accesses per block,
# and a suppression only matches a report whose earlier stack was restored.
export TSAN_OPTIONS="halt_on_error=1 history_size=7 second_deadlock_stack=1 suppressions=$PWD/tests/tsan/suppressions.txt"
# The hand-over tests: the change queue under several producers, and one
# thread editing parameters, programs and chunks while another processes.
build-tsan/test_plugin --gtest_filter='Concurrency.*:ChangeQueue.*'
# An automation thread racing the audio thread, through the binary interface.
build-tsan/kovalith validate --only threads build-tsan/Kovalith.so
# The CLAP plug-in: state loads, saves and values on the main thread while the
# audio thread processes automation and a learned controller.
build-tsan/test_clap --gtest_filter='ClapThreadsTest.*'
