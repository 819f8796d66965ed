#pragma once
// Forwards every wait to the system clock and notes when it began and ended, so the time
// between two waits (the program's own work) and each wait's overshoot can be read off.
#include "link/clock.h"
#include "monotonic.h"

#include <cstdint>
#include <vector>

namespace quillon::bench {

struct TimedWait {
    int ms;                 // what the program asked for
    std::int64_t start_ns;  // monotonic_ns()
    std::int64_t end_ns;
};

class TimingClock final : public Clock {
public:
    explicit TimingClock(Clock& inner) : inner_(inner) { waits_.reserve(8192); }

    void sleep_ms(int ms) override {
        const std::int64_t start = monotonic_ns();
        inner_.sleep_ms(ms);
        waits_.push_back({ms, start, monotonic_ns()});
    }
    std::int64_t now_us() const override { return inner_.now_us(); }

    const std::vector<TimedWait>& waits() const { return waits_; }

private:
    Clock& inner_;
    std::vector<TimedWait> waits_;
};

}  // namespace quillon::bench
