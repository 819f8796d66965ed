#pragma once
#include "clock.h"

namespace quillon {

// Waits on CLOCK_MONOTONIC and ends each wait as close after its length as it can, never
// before it. Build it on the thread that waits: it sets that thread's timer slack.
class SystemClock final : public Clock {
public:
    SystemClock();
    void sleep_ms(int ms) override;
    std::int64_t now_us() const override;
};

}  // namespace quillon
