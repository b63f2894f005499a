#!/usr/bin/env bash
# Builds the native programs (tool, POSIX stub, tests) and the Windows stub and
# Windows test runner with mingw-w64. All programs land in build/bin.
# KV_WERROR=ON makes warnings errors (CI sets it); KV_TESTS=OFF leaves the
# unit test programs out (the demo runs none).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
werror=${KV_WERROR:-OFF}
jobs=${KV_JOBS:-2}
tests=${KV_TESTS:-ON}
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DKV_WERROR="$werror" -DKV_TESTS="$tests" -DKV_BIN_DIR="$root/build/bin" >/dev/null
cmake --build build/native -j"$jobs"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DKV_WERROR="$werror" -DKV_TESTS="$tests" -DKV_BIN_DIR="$root/build/bin" >/dev/null
  cmake --build build/win -j"$jobs"
else
  echo "build: mingw-w64 not installed; Windows stub skipped (run scripts/setup.sh)" >&2
fi
