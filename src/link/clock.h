#pragma once
#include <cstdint>

namespace quillon {

// Every wait of the program goes through this, so tests can run them on virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    // Blocks for ms milliseconds.
    virtual void sleep_ms(int ms) = 0;
    // Monotonic time in microseconds since an arbitrary start.
    virtual std::int64_t now_us() const = 0;
};

}  // namespace quillon
