#!/usr/bin/env bash
# Fuzzing job: builds the libFuzzer targets of tests/fuzz with clang and
# AddressSanitizer + UndefinedBehaviorSanitizer in build-fuzz, seeds them from
# the factory bank and runs each for a fixed number of inputs. A crash or a
# sanitizer report fails the job; the reproducer is printed in hex.
#   scripts/ci-fuzz.sh [CHUNK_RUNS EVENTS_RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
chunk_runs="${1:-4000}"
events_runs="${2:-3500}"
if ! command -v clang++ >/dev/null || [ -z "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep /)" ]; then
  echo "SKIP: fuzzing: clang++ with libFuzzer is not installed (scripts/deps.sh test installs it)"
  exit 0
fi
jobs="$(nproc)"
[ "$jobs" -gt 2 ] && jobs=2

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVALITH_WERROR=ON \
      -DKOVALITH_BUILD_TESTS=OFF -DKOVALITH_BUILD_BENCH=OFF -DKOVALITH_BUILD_FUZZERS=ON \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-fuzz -j"$jobs" --target kovalith_fuzz_chunk kovalith_fuzz_events kovalith_fuzz_seeds

corpus="build-fuzz/corpus"
rm -rf "$corpus" build-fuzz/crashes
mkdir -p "$corpus/chunk" "$corpus/events" build-fuzz/crashes
build-fuzz/kovalith_fuzz_seeds "$corpus/chunk" "$corpus/events"

export ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1"
fuzz() {
  local target="$1" runs="$2"
  echo "fuzzing $target for $runs runs"
  if ! "build-fuzz/kovalith_fuzz_$target" -runs="$runs" -seed=1 -print_final_stats=1 \
       -artifact_prefix=build-fuzz/crashes/"$target"- "$corpus/$target" 2>"build-fuzz/$target.log"; then
    tail -n 60 "build-fuzz/$target.log" >&2
    for input in build-fuzz/crashes/"$target"-*; do
      [ -f "$input" ] || continue
      echo "reproducer $input (run: build-fuzz/kovalith_fuzz_$target $input):" >&2
      od -A d -t x1 "$input" | head -n 40 >&2
    done
    exit 1
  fi
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec)" "build-fuzz/$target.log" || true
}
fuzz chunk "$chunk_runs"
fuzz events "$events_runs"
