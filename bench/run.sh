#!/usr/bin/env bash
# Builds the benchmark driver (RelWithDebInfo, in build-bench/) and prints every performance
# figure with how it was measured. Arguments go to the driver: section names (timer, load,
# startup, download) to run only those, --quick for a short run with small sizes.
# Takes 3 to 4 minutes in full; the figures are best on an otherwise idle machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLON_BENCH_BUILD:-$root/build-bench}"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillon_bench >/dev/null

export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
fi

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
     "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)," \
     "clock source $(cat /sys/devices/system/clocksource/clocksource0/current_clocksource)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/quillon_bench" "$@"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
