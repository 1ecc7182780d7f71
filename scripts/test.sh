#!/usr/bin/env bash
# Builds aacstream twice (Release, and AddressSanitizer + UndefinedBehaviorSanitizer) and runs the
# whole test suite with CTest in both.  Extra arguments go to ctest (e.g. -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure "$@"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAACSTREAM_SANITIZE=ON \
      -DAACSTREAM_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j "$jobs" --output-on-failure "$@"
# The WAV-reader and stream-API fuzzers, one minute each on their seed corpora (clang's libFuzzer).
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAACSTREAM_FUZZ=ON \
      -DAACSTREAM_BUILD_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzz_wave_reader fuzz_stream_api
ctest --test-dir build/fuzz -L fuzz -j "$jobs" --output-on-failure
echo "test.sh: all tests passed (Release, ASan/UBSan, fuzzing)"
