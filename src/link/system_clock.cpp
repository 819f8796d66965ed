#include "system_clock.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

namespace quillon {
namespace {

// 0 would mean "back to the default"; 1 ns is the least there is.
constexpr unsigned long FINEST_TIMER_SLACK_NS = 1;
// A sleeping thread wakes some tens of microseconds after its timer; the last part of a
// wait is spent polling the clock instead, so it ends on time for a few microseconds of CPU.
constexpr std::int64_t POLLED_TAIL_NS = 50'000;

std::int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

// The default timer slack (50 us) lets every sleep end that much later: 0.2 s over the
// transfer's 4096 waits of 1 ms.
SystemClock::SystemClock() {
    prctl(PR_SET_TIMERSLACK, FINEST_TIMER_SLACK_NS, 0, 0, 0);
}

void SystemClock::sleep_ms(int ms) {
    if (ms <= 0) return;
    const std::int64_t deadline = monotonic_ns() + static_cast<std::int64_t>(ms) * 1'000'000;
    // To an absolute time, so an interrupted sleep resumes without adding to the wait.
    const std::int64_t wake = deadline - POLLED_TAIL_NS;
    const timespec wake_at{static_cast<time_t>(wake / 1'000'000'000),
                           static_cast<long>(wake % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake_at, nullptr) == EINTR) {
    }
    while (monotonic_ns() < deadline) {
    }
}

std::int64_t SystemClock::now_us() const {
    return monotonic_ns() / 1000;
}

}  // namespace quillon
