#include "app/app_main.h"

#include "app/app_identity.h"
#include "app/error_box.h"
#include "app/quillon_application.h"
#include "link/instrument_link.h"

namespace quillon {

int run_application(int& argc, char** argv, UsbApi& usb, Clock& clock,
                    const StartupOptions& options) {
    QuillonApplication app(argc, argv);
    try {
        apply_identity(app);
        InstrumentLink link(usb, clock);
        // Owned here, not by the event loop: a download may still be running inside it
        // when it closes, and it closes the link when it is destroyed.
        TMainForm window(link, options.window);
        MainForm = &window;
        if (options.on_window_built) options.on_window_built(window);
        window.show();
        QApplication::exec();
        MainForm = nullptr;
    } catch (...) {
        show_error_box(nullptr, current_exception_message());
    }
    return 0;
}

}  // namespace quillon
