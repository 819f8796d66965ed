#include "instrument_link.h"

#include "clock.h"
#include "progress_log.h"

#include <cstdio>
#include <cstring>

namespace quillon {
namespace {

// Shown for dump positions the descriptor read did not fill.
constexpr char UNFILLED_DUMP_CHAR = '?';
// Used when the descriptor tree has no first endpoint: the full-speed bulk packet size,
// so the memory read-back always advances.
constexpr std::int16_t FALLBACK_MAX_PACKET_SIZE = 64;

constexpr int CONFIG_DUMP_SIZE = 32;
constexpr int PRODUCT_BUFFER_SIZE = 7;  // six characters and the terminator

bool is_instrument(const struct usb_device* dev) {
    return dev->descriptor.idVendor == INSTRUMENT_VENDOR_ID &&
           dev->descriptor.idProduct == INSTRUMENT_PRODUCT_ID;
}

// wMaxPacketSize of the first endpoint of the first alternate setting of the first
// interface of the first configuration; any missing level gives the fallback.
std::int16_t first_endpoint_packet_size(const struct usb_device* dev) {
    const usb_config_descriptor* config = dev->config;
    if (config == nullptr || dev->descriptor.bNumConfigurations == 0) {
        return FALLBACK_MAX_PACKET_SIZE;
    }
    const usb_interface* interface = config->interface;
    if (interface == nullptr || config->bNumInterfaces == 0) return FALLBACK_MAX_PACKET_SIZE;
    const usb_interface_descriptor* alt = interface->altsetting;
    if (alt == nullptr || interface->num_altsetting <= 0) return FALLBACK_MAX_PACKET_SIZE;
    const usb_endpoint_descriptor* endpoint = alt->endpoint;
    if (endpoint == nullptr || alt->bNumEndpoints == 0) return FALLBACK_MAX_PACKET_SIZE;
    return static_cast<std::int16_t>(endpoint->wMaxPacketSize);
}

}  // namespace

InstrumentLink::InstrumentLink(UsbApi& usb, Clock& clock) : usb_(usb), clock_(clock) {}

InstrumentLink::~InstrumentLink() { close_instrument(); }

int InstrumentLink::open_instrument() {
    usb_.init();
    usb_.find_busses();
    usb_.find_devices();

    struct usb_bus* busses = nullptr;
    for (int pass = 0; pass < 2; ++pass) {
        busses = usb_.get_busses();
        if (verbosity_ == 2) {
            log_line("Begin USB transfer.");
            if (busses == nullptr) log_line("no usb");
        }
    }

    int result = OPEN_NOT_FOUND;
    for (struct usb_bus* bus = busses; bus != nullptr; bus = bus->next) {
        if (verbosity_ == 2) log_line("in usb");
        for (struct usb_device* dev = bus->devices; dev != nullptr; dev = dev->next) {
            if (verbosity_ == 2) log_line("in usb dev");
            if (!is_instrument(dev)) {
                if (verbosity_ == 2) log_line(".");
                continue;
            }
            if (verbosity_ == 2) log_line("idVendor,idProduct OK");
            open_matching_device(dev, result);
        }
        if (verbosity_ == 2) log_line(":");
    }
    return result;
}

void InstrumentLink::open_matching_device(struct usb_device* dev, int& result) {
    // A second instrument in the same walk replaces the first: let the first go.
    close_instrument();

    usb_handle_ = usb_.open(dev);
    const bool opened = usb_handle_ != nullptr;
    if (opened) {
        if (verbosity_ == 2) log_line("usbhandle OK");
        result = OPEN_OK;
    } else {
        result = OPEN_FAILED;
        log_line("Instrument not opened.");
    }

    max_packet_size_ = first_endpoint_packet_size(dev);
    if (verbosity_ == 2) {
        char line[40];
        std::snprintf(line, sizeof line, "wMaxPacketSize: %u;",
                      static_cast<unsigned>(static_cast<int>(max_packet_size_)));
        log_line(line);
    }
    if (!opened) return;

    dump_configuration_descriptor();

    if (usb_.set_configuration(usb_handle_, INSTRUMENT_CONFIGURATION) < 0) {
        log_line("Configuration failed.");
    }
    if (usb_.claim_interface(usb_handle_, INSTRUMENT_INTERFACE) < 0) {
        log_line(usb_.strerror());
        result = OPEN_CLAIM_FAILED;
    } else if (verbosity_ == 2) {
        log_line("Configuration OK");
    }

    clock_.sleep_ms(SETTLE_AFTER_CLAIM_MS);
    identify_model(result);
}

void InstrumentLink::dump_configuration_descriptor() {
    unsigned char descriptor[CONFIG_DUMP_SIZE];
    std::memset(descriptor, 0, sizeof descriptor);
    const int filled = usb_.get_descriptor(usb_handle_, USB_DT_CONFIG, 0, descriptor,
                                           CONFIG_DUMP_SIZE);
    if (verbosity_ != 2) return;

    char text[CONFIG_DUMP_SIZE + 1];
    for (int i = 0; i < CONFIG_DUMP_SIZE; ++i) {
        // A byte of 0xD0 becomes the terminator and ends the line there.
        text[i] = i < filled ? static_cast<char>(descriptor[i] + '0') : UNFILLED_DUMP_CHAR;
    }
    text[CONFIG_DUMP_SIZE] = '\0';
    log_line(text);
}

void InstrumentLink::identify_model(int& result) {
    char product[PRODUCT_BUFFER_SIZE];
    std::memset(product, 0, sizeof product);
    const int read = usb_.get_string_simple(usb_handle_, PRODUCT_STRING_INDEX, product,
                                            sizeof product);
    product[PRODUCT_BUFFER_SIZE - 1] = '\0';
    if (read <= 0) {
        log_line("usb_get_string_simple");
        log_line(usb_.strerror());
        result = OPEN_NO_MODEL;
        return;
    }
    if (verbosity_ != 0) log_line(product);
    if (std::strcmp(product, "TR-518") == 0) {
        log_line("Instrument opened.");
    } else if (std::strcmp(product, "TR-760") == 0) {
        log_line("TR-760 opened.");
    } else {
        log_line("Wrong Instrument.");
        result = OPEN_FAILED;
    }
}

void InstrumentLink::close_instrument() {
    if (usb_handle_ != nullptr) usb_.release_interface(usb_handle_, INSTRUMENT_INTERFACE);
    if (usb_handle_ != nullptr) usb_.close(usb_handle_);
    usb_handle_ = nullptr;
}

int InstrumentLink::open_instrument_with_retry() {
    int result = open_instrument();
    for (int retries = 0; retries < OPEN_RETRIES && result != OPEN_OK; ++retries) {
        close_instrument();
        log_line(".");
        repaint_log();
        clock_.sleep_ms(RETRY_WAIT_MS);
        log_line(".");
        repaint_log();
        clock_.sleep_ms(RETRY_WAIT_MS);
        result = open_instrument();
    }
    return result;
}

}  // namespace quillon
