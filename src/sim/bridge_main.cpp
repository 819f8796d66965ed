// usbfs-bridge: runs a command whose libusb-0.1 meets the simulated instrument through
// usbfs as umockdev emulates it, and ends with the command's exit status.
#include "sim/bridge_child.h"
#include "sim/bridge_clock.h"
#include "sim/bridge_options.h"
#include "sim/usbfs_bridge.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_SKIP = 77;  // umockdev cannot run here; ctest counts it as skipped
constexpr int EXIT_NOT_STARTED = 127;

volatile std::sig_atomic_t pending_signal = 0;

// Starts `command` under the preload and waits for it, following the instruments meanwhile.
int run(quillon::sim::UsbfsBridge& bridge, quillon::Clock& clock,
        const std::vector<std::string>& command,
        const std::vector<std::pair<std::string, std::string>>& environment) {
    quillon::sim::BridgeChild child;
    std::string why;
    if (!child.start(command, environment, why)) {
        std::fprintf(stderr, "usbfs-bridge: %s\n", why.c_str());
        return EXIT_NOT_STARTED;
    }
    int status = 0;
    while (!child.ended(status)) {
        if (const int number = pending_signal) {
            pending_signal = 0;
            child.signal(number);
        }
        bridge.follow_instruments();
        clock.sleep_ms(1);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon::sim;
    // The preload sleeps after every request it forwards; the default 50 us of timer
    // slack on each of those sleeps would dominate a bulk transfer. Children inherit it.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    // Interrupted, the bridge lets the child end and still removes the testbed.
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(number, [](int n) { pending_signal = n; });
    }

    std::string error;
    const auto options = parse_bridge_options({argv + 1, argv + argc}, error);
    if (!options) {
        std::fprintf(stderr, "usbfs-bridge: %s\n%s", error.c_str(), bridge_usage());
        return EXIT_USAGE;
    }
    const std::string preload = QUILLON_UMOCKDEV_PRELOAD;
    if (::access(preload.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "usbfs-bridge: umockdev cannot run here: no %s\n", preload.c_str());
        return EXIT_SKIP;
    }

    BridgeClock clock;
    UsbfsBridge bridge(clock, options->trace);
    if (!bridge.start(error)) {
        std::fprintf(stderr, "usbfs-bridge: umockdev cannot run here: %s\n", error.c_str());
        return EXIT_SKIP;
    }
    for (const BridgeInstrument& spec : options->instruments) {
        bridge.add_instrument(spec).set_power_button(options->power_button_held);
    }
    bridge.follow_instruments();

    const auto environment = preload_environment(preload);
    // A static or setuid program would not see the testbed; neither would any program if
    // the preload failed here. A shell must find the bridge's own sysfs directory.
    const std::string probe = std::string("test -d ") + UsbfsBridge::PROBE_PATH;
    if (run(bridge, clock, {"/bin/sh", "-c", probe}, environment) != 0) {
        std::fprintf(stderr, "usbfs-bridge: umockdev cannot run here: the preload shows "
                             "no testbed to a child\n");
        return EXIT_SKIP;
    }

    int status = run(bridge, clock, options->command, environment);

    if (!options->dump_flash.empty()) {
        const auto flash = bridge.read_flash(0, DUMP_BASE, FLASH_BASE + FLASH_SIZE - DUMP_BASE);
        std::ofstream out(options->dump_flash, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        if (!out) {
            std::fprintf(stderr, "usbfs-bridge: cannot write %s\n", options->dump_flash.c_str());
            if (status == 0) status = 1;
        }
    }
    return status;
}
