#!/usr/bin/env bash
# Builds Quillon and starts the demo: the real window on a simulated TR-518.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target quillon quillon-demo
echo
echo "Starting build/quillon-demo: the instrument in this demo is SIMULATED."
echo "For a real instrument, run build/quillon instead."
exec build/quillon-demo "$@"
