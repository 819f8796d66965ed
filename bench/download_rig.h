#pragma once
// Everything a download needs on the system clock: the simulated instrument with its power
// button held, the program's clock (waits recorded, then timed, then slept for real), the
// link, an image file of the largest size and the real window around it all.
#include "bench_window.h"
#include "link/instrument_link.h"
#include "link/system_clock.h"
#include "samples.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "timed_usb.h"
#include "timing_clock.h"

#include <QTemporaryDir>

#include <cstdint>
#include <optional>
#include <vector>

namespace quillon::bench {

inline constexpr std::uint32_t LARGEST_IMAGE = 262141;

// Bytes of an image of n bytes; 0x00 and 0xFF among them.
std::vector<std::uint8_t> image_bytes(std::uint32_t n);

struct DownloadRun {
    double wall_us = 0;        // Open1 triggered until it returned
    double chooser_us = 0;     // of which the chooser (answered the moment it runs)
    double waits_ms = 0;       // sum of the waits the sequence asked for
    double slept_us = 0;       // how long those waits really lasted
    double packet_over_us = 0; // of the time slept, beyond 1 ms in the transfer's waits
    int packet_waits = 0;      // the 1 ms waits of the transfer
    Samples gap_us;            // between two 1 ms waits: the loop's own work per packet
    Samples overshoot_us;      // how much each 1 ms wait lasted beyond 1 ms
    Samples other_overshoot_us;  // the same for the sequence's other waits
    Samples bulk_write_us;
    Samples dispatch_us;
    Samples repaint_us;        // the transfer's repaints
    bool flash_matches = false;
    bool ended_cleanly = false;  // "Leaving OPEN" is the pane's last line
};

class DownloadRig {
public:
    DownloadRig();
    ~DownloadRig();

    BenchWindow& window() { return *window_; }
    // One File > Open, the way the menu starts it, inside the event loop.
    DownloadRun run_download();

private:
    QTemporaryDir folder_;
    std::vector<std::uint8_t> image_;
    SystemClock system_clock_;
    TimingClock timing_clock_{system_clock_};
    sim::RecordingClock program_clock_{timing_clock_};
    sim::SimUsb sim_usb_{system_clock_};
    TimedUsb usb_{sim_usb_};
    std::optional<InstrumentLink> link_;
    std::optional<BenchWindow> window_;
};

}  // namespace quillon::bench
