#!/usr/bin/env bash
# Builds Quillon and runs every test twice: a plain build and an AddressSanitizer + UBSan build.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== plain build (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UBSan build (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0} \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
