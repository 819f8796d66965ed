#include "download/instrument_reset.h"

#include "link/clock.h"
#include "link/command_channel.h"
#include "link/instrument_link.h"
#include "link/progress_log.h"

namespace quillon {
namespace {
constexpr int WAIT_AFTER_CLOSE_MS = 100;
}

void reset_instrument(InstrumentLink& link) {
    // First the open's result, then the reset transfer's: only a whole block counts.
    int outcome = link.open_instrument_with_retry();
    if (outcome == OPEN_OK) {
        outcome = send_command(link.usb(), link.usb_handle(), make_command(CMD_RESET),
                               SHORT_BLOCK, RESET_TIMEOUT_MS);
        log_line("Reset sent.");
    } else {
        log_line("Instrument not found.");
    }
    link.close_instrument();
    link.clock().sleep_ms(WAIT_AFTER_CLOSE_MS);
    if (outcome == SHORT_BLOCK) log_line("Instrument closed.");
}

}  // namespace quillon
