// The program for a real instrument: the system's libusb-0.1 and the system clock.
#include "app/app_main.h"
#include "link/libusb_api.h"
#include "link/system_clock.h"

#include <QStandardPaths>

int main(int argc, char** argv) {
    quillon::LibUsbApi usb;
    quillon::SystemClock clock;
    quillon::StartupOptions options;
    // Firmware files usually arrive by download.
    options.window.image_folder =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return quillon::run_application(argc, argv, usb, clock, options);
}
