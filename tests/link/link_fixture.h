#pragma once
// The simulated bus, virtual time and a recording log, built in one line.
#include "link/instrument_link.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "support/line_diff.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon::testing {

class LinkFixture : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    sim::RecordingClock program_clock{clock};
    sim::SimUsb usb{clock};
    RecordingLog log;
    InstrumentLink link{usb, program_clock};

    int count_calls(const std::string& name) const {
        return static_cast<int>(usb.calls_named(name).size());
    }
};

}  // namespace quillon::testing
