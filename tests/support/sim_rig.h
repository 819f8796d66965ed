#pragma once
// The simulated bus on virtual time, the program's link with its waits recorded, and a
// recording log: what every test of the link and the download stands on.
#include "link/instrument_link.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "support/recording_log.h"

namespace quillon::testing {

struct SimRig {
    sim::VirtualClock virtual_clock;
    sim::RecordingClock clock{virtual_clock};  // the waits the program asks for
    sim::SimUsb usb{virtual_clock};
    RecordingLog log;
    InstrumentLink link{usb, clock};
};

}  // namespace quillon::testing
