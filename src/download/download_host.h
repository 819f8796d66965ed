#pragma once
// What the download and the reset need of the window, besides the progress log.
#include <optional>
#include <string>

namespace quillon {

class DownloadHost {
public:
    virtual ~DownloadHost() = default;
    // Shows the firmware chooser; the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> choose_image_file() = 0;
    // Writes the status text into the first panel and paints the bar at once.
    virtual void show_usb_status() = 0;
    // Lets the window handle all pending events.
    virtual void dispatch_pending_events() = 0;
    // True once the application has begun to close.
    virtual bool terminating() const = 0;
    // The system's simple beep.
    virtual void beep() = 0;
};

}  // namespace quillon
