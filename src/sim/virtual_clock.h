#pragma once
// Virtual time for tests and benchmarks: a 100 s retry loop runs in microseconds.
#include "link/clock.h"

#include <cstdint>
#include <vector>

namespace quillon::sim {

// Time passes only when someone sleeps on it.
class VirtualClock final : public Clock {
public:
    void sleep_ms(int ms) override {
        if (ms > 0) now_us_ += static_cast<std::int64_t>(ms) * 1000;
    }
    std::int64_t now_us() const override { return now_us_; }
    std::int64_t now_ms() const { return now_us_ / 1000; }
    void advance_us(std::int64_t us) { now_us_ += us; }

private:
    std::int64_t now_us_ = 0;
};

// Records the waits the program asks for, then forwards them. The simulated
// instrument sleeps on the inner clock directly, so its time-outs are not counted here.
class RecordingClock final : public Clock {
public:
    explicit RecordingClock(Clock& inner) : inner_(inner) {}
    void sleep_ms(int ms) override {
        waits_.push_back(ms);
        total_ms_ += ms;
        inner_.sleep_ms(ms);
    }
    std::int64_t now_us() const override { return inner_.now_us(); }

    const std::vector<int>& waits() const { return waits_; }
    std::int64_t total_ms() const { return total_ms_; }
    void clear() {
        waits_.clear();
        total_ms_ = 0;
    }

private:
    Clock& inner_;
    std::vector<int> waits_;
    std::int64_t total_ms_ = 0;
};

}  // namespace quillon::sim
