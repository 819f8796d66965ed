// The production binding against the real libusb-0.1 on this machine's bus.
#include "link/instrument_link.h"
#include "link/libusb_api.h"
#include "link/system_clock.h"
#include "support/line_diff.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(RealLibusb, EmptyBusScanLogsTheFourVerboseLines) {
    LibUsbApi usb;
    usb.init();
    usb.find_busses();
    if (usb.get_busses() != nullptr) GTEST_SKIP() << "this machine has a USB bus";

    SystemClock clock;
    testing::RecordingLog log;
    InstrumentLink link(usb, clock);
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), OPEN_NOT_FOUND);
    EXPECT_TRUE(testing::SameLines(
        {"Begin USB transfer.", "no usb", "Begin USB transfer.", "no usb"}, log.lines));
    EXPECT_EQ(link.usb_handle(), nullptr);
}

}  // namespace
}  // namespace quillon
