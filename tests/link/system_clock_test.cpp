#include "link/system_clock.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <cstdint>
#include <vector>

namespace quillon {
namespace {

// A wait may end late, never early: the sequence's timing rests on each one lasting its
// full length. Many short waits, so that some deadlines fall just before a whole second.
TEST(SystemClockTest, EveryWaitLastsAtLeastItsLength) {
    SystemClock clock;
    std::vector<int> waits(300, 1);
    waits.insert(waits.end(), {2, 7, 1001});
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const std::int64_t start = clock.now_us();
        clock.sleep_ms(waits[i]);
        const std::int64_t lasted = clock.now_us() - start;
        ASSERT_GE(lasted, waits[i] * 1000LL) << "wait [" << i << "] of " << waits[i] << " ms";
    }
}

TEST(SystemClockTest, TheWaitingThreadGetsTheFinestTimerSlack) {
    prctl(PR_SET_TIMERSLACK, 50000UL, 0, 0, 0);
    SystemClock clock;
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
}

}  // namespace
}  // namespace quillon
