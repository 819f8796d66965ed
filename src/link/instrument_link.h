#pragma once
// The one link to the instrument: discovery, opening, identification and closing.
#include "usb_api.h"

#include <cstdint>

namespace quillon {

class Clock;

// Result of an open; callers test only for OPEN_OK.
enum OpenResult : int {
    OPEN_NOT_FOUND = 0,
    OPEN_FAILED = 1,
    OPEN_CLAIM_FAILED = 2,
    OPEN_OK = 99,
    OPEN_NO_MODEL = 199,
};

inline constexpr int INSTRUMENT_VENDOR_ID = 0x0483;
inline constexpr int INSTRUMENT_PRODUCT_ID = 0x5720;
inline constexpr int INSTRUMENT_CONFIGURATION = 1;
inline constexpr int INSTRUMENT_INTERFACE = 1;
inline constexpr int PRODUCT_STRING_INDEX = 2;
inline constexpr int SETTLE_AFTER_CLAIM_MS = 150;
inline constexpr int OPEN_RETRIES = 10;
inline constexpr int RETRY_WAIT_MS = 5000;

// Verbosity levels: nothing else is ever stored.
inline constexpr int VERBOSITY_QUIET = 0;
inline constexpr int VERBOSITY_VERBOSE = 2;

class InstrumentLink {
public:
    InstrumentLink(UsbApi& usb, Clock& clock);
    // A link still open when the program ends is released and closed here.
    ~InstrumentLink();
    InstrumentLink(const InstrumentLink&) = delete;
    InstrumentLink& operator=(const InstrumentLink&) = delete;

    // Rescans the busses and opens, configures and identifies every matching device;
    // the last one stays in usb_handle. May leave the link open on failure.
    int open_instrument();
    // Releases interface 1 and closes the handle; harmless when closed.
    void close_instrument();
    // One attempt and up to OPEN_RETRIES more, two waits of RETRY_WAIT_MS before each.
    int open_instrument_with_retry();

    usb_dev_handle* usb_handle() const { return usb_handle_; }
    int verbosity() const { return verbosity_; }
    bool verbose() const { return verbosity_ != VERBOSITY_QUIET; }
    void set_verbose(bool on) { verbosity_ = on ? VERBOSITY_VERBOSE : VERBOSITY_QUIET; }
    // wMaxPacketSize of the first endpoint of the last matching device; kept after close.
    std::int16_t max_packet_size() const { return max_packet_size_; }

    UsbApi& usb() const { return usb_; }
    Clock& clock() const { return clock_; }

private:
    void open_matching_device(struct usb_device* dev, int& result);
    void dump_configuration_descriptor();
    void identify_model(int& result);

    UsbApi& usb_;
    Clock& clock_;
    usb_dev_handle* usb_handle_ = nullptr;
    int verbosity_ = VERBOSITY_QUIET;
    std::int16_t max_packet_size_ = 0;
};

}  // namespace quillon
