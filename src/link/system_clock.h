#pragma once
#include "clock.h"

namespace quillon {

class SystemClock final : public Clock {
public:
    SystemClock();
    void sleep_ms(int ms) override;
    std::int64_t now_us() const override;
};

}  // namespace quillon
