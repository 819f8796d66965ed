// The demo: the real window on a simulated TR-518, on the system clock, so a newcomer can
// watch a whole download without an instrument. The simulated technician holds the power
// button while the countdown asks for it.
#include "app/app_main.h"
#include "link/progress_log.h"
#include "link/system_clock.h"
#include "sim/sim_usb.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <optional>
#include <string_view>

namespace {

// Watches the log on its way to the window and presses the button when told to.
class PowerButtonHand final : public quillon::LogSink {
public:
    PowerButtonHand(quillon::LogSink& window, quillon::sim::SimInstrument& instrument)
        : window_(window), instrument_(instrument) {}

    void append_line(std::string_view line) override {
        window_.append_line(line);
        if (line == "HOLD DOWN POWER BUTTON NOW!!!") instrument_.set_power_button(true);
        if (line == "You can release the power button.") instrument_.set_power_button(false);
    }
    void repaint() override { window_.repaint(); }

private:
    quillon::LogSink& window_;
    quillon::sim::SimInstrument& instrument_;
};

}  // namespace

int main(int argc, char** argv) {
    std::fputs("quillon-demo: the instrument is SIMULATED; no USB device is touched.\n", stderr);

    quillon::SystemClock clock;
    quillon::sim::SimUsb usb(clock);
    const int bus = usb.add_bus();
    usb.add_foreign_device(bus, 0x1D6B, 0x0002);  // a root hub, as on a real bus
    quillon::sim::SimInstrument& instrument = usb.add_instrument(bus);

    std::optional<PowerButtonHand> hand;
    std::optional<quillon::ScopedLogSink> watching;

    quillon::StartupOptions options;
    // The sample image that the build makes lies beside the demo.
    options.window.image_folder = QString::fromLocal8Bit(QUILLON_DEMO_IMAGE_FOLDER);
    options.on_window_built = [&](quillon::TMainForm& window) {
        hand.emplace(window, instrument);
        watching.emplace(*hand);
    };
    const int code = quillon::run_application(argc, argv, usb, clock, options);
    return code;
}
