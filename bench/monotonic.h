#pragma once
// The bench's own time stamps: CLOCK_MONOTONIC in nanoseconds, the clock the program's
// SystemClock sleeps on, so the two can be compared across processes too.
#include <cstdint>
#include <ctime>

namespace quillon::bench {

inline std::int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline double us_since(std::int64_t start_ns) {
    return static_cast<double>(monotonic_ns() - start_ns) / 1000.0;
}

}  // namespace quillon::bench
