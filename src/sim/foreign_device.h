#pragma once
// A device on the bus that is not ours: it enumerates and opens, and answers no command.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon::sim {

class ForeignDevice {
public:
    ForeignDevice(std::uint16_t vendor_id, std::uint16_t product_id, std::uint8_t devnum)
        : vendor_id_(vendor_id), product_id_(product_id), devnum_(devnum) {}

    std::uint8_t devnum() const { return devnum_; }
    std::vector<std::uint8_t> device_descriptor() const;  // 18 bytes
    // One vendor-specific interface 0 with an interrupt IN endpoint 0x81 of 8 bytes.
    std::vector<std::uint8_t> configuration_descriptor() const;
    std::optional<std::string> string_text(int index) const;

private:
    std::uint16_t vendor_id_;
    std::uint16_t product_id_;
    std::uint8_t devnum_;
};

}  // namespace quillon::sim
