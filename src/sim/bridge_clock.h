#pragma once
// Real time counted from the bridge's start, so "appears after 2000 ms" means just that.
#include "link/system_clock.h"

namespace quillon::sim {

class BridgeClock final : public Clock {
public:
    void sleep_ms(int ms) override { system_.sleep_ms(ms); }
    std::int64_t now_us() const override { return system_.now_us() - start_us_; }

private:
    SystemClock system_;
    std::int64_t start_us_ = system_.now_us();
};

}  // namespace quillon::sim
