#!/usr/bin/env bash
# Builds aacstream in Release into build/release: the libraries, the aacstream command-line
# encoder and the example host.  Extra arguments go to `cmake --build` (e.g. `--target all` also
# builds the tests and benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ $# -eq 0 ]; then
  set -- --target aacstream aacstream_shared aacstream_static encode_wav
fi
cmake --build build/release -j "$jobs" "$@"
echo "build.sh: built build/release/tools/aacstream"
