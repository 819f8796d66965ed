#include "sim/foreign_device.h"

namespace quillon::sim {

namespace {
std::uint8_t lo(unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(unsigned v) { return static_cast<std::uint8_t>(v >> 8 & 0xFF); }
}  // namespace

std::vector<std::uint8_t> ForeignDevice::device_descriptor() const {
    return {
        18,   0x01,           // bLength, DEVICE
        0x10, 0x01,           // bcdUSB 1.10
        0x00, 0x00, 0x00,     // class per interface
        8,                    // bMaxPacketSize0
        lo(vendor_id_), hi(vendor_id_), lo(product_id_), hi(product_id_),
        0x00, 0x02,           // bcdDevice 2.00
        1, 2, 0,              // manufacturer, product, no serial number
        1,                    // one configuration
    };
}

std::vector<std::uint8_t> ForeignDevice::configuration_descriptor() const {
    return {
        9, 0x02, 25, 0, 1, 1, 0, 0xA0, 50,  // CONFIGURATION, 25 bytes, remote wake-up, 100 mA
        9, 0x04, 0, 0, 1, 0xFF, 0, 0, 0,    // INTERFACE 0, one endpoint
        7, 0x05, 0x81, 0x03, 8, 0, 10,      // interrupt IN, every 10 ms
    };
}

std::optional<std::string> ForeignDevice::string_text(int index) const {
    if (index == 1) return std::string("Generic");
    if (index == 2) return std::string("USB Device");
    return std::nullopt;
}

}  // namespace quillon::sim
