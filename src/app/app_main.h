#pragma once
// The start-up that the program and its demo share: they differ only in the USB stack and
// the clock they hand over.
#include "app/main_form.h"

#include <functional>

namespace quillon {

class Clock;
class UsbApi;

struct StartupOptions {
    MainFormOptions window;
    // Runs once the window is built, before it is shown.
    std::function<void(TMainForm&)> on_window_built;
};

// Builds the application and the window on `usb` and `clock`, runs the event loop until the
// window closes and returns the exit code, 0 in every case: a failure during start-up is
// shown in the error box first.
int run_application(int& argc, char** argv, UsbApi& usb, Clock& clock,
                    const StartupOptions& options = {});

}  // namespace quillon
