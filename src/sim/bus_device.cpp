#include "sim/bus_device.h"

#include <algorithm>
#include <cerrno>

namespace quillon::sim {

BusDevice::BusDevice(int bus, std::unique_ptr<SimInstrument> instrument)
    : bus_(bus), instrument_(std::move(instrument)) {}

BusDevice::BusDevice(int bus, ForeignDevice foreign) : bus_(bus), foreign_(foreign) {}

bool BusDevice::present() const { return !instrument_ || instrument_->present(); }

std::uint32_t BusDevice::generation() const {
    return instrument_ ? instrument_->generation() : 0;
}

std::uint8_t BusDevice::devnum() const {
    return instrument_ ? instrument_->devnum() : foreign_->devnum();
}

std::optional<std::vector<std::uint8_t>> BusDevice::descriptor(int type, int index) const {
    if (type == USB_DT_DEVICE && index == 0) {
        return instrument_ ? instrument_->device_descriptor() : foreign_->device_descriptor();
    }
    if (type == USB_DT_CONFIG && index == 0) {
        return instrument_ ? instrument_->configuration_descriptor()
                           : foreign_->configuration_descriptor();
    }
    if (type != USB_DT_STRING) return std::nullopt;
    if (index == 0) return std::vector<std::uint8_t>{4, USB_DT_STRING, 0x09, 0x04};  // en-US
    const auto text = instrument_ ? instrument_->string_text(index) : foreign_->string_text(index);
    if (!text) return std::nullopt;
    // UTF-16LE of the Latin-1 text; a descriptor holds at most 126 characters.
    const std::size_t chars = std::min<std::size_t>(text->size(), 126);
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(2 + 2 * chars), USB_DT_STRING};
    for (std::size_t i = 0; i < chars; ++i) {
        bytes.push_back(static_cast<std::uint8_t>((*text)[i]));
        bytes.push_back(0);
    }
    return bytes;
}

DeviceListing BusDevice::listing(int index) const {
    DeviceListing l;
    l.device = index;
    l.bus = bus_;
    l.devnum = devnum();
    l.generation = generation();
    l.device_descriptor = *descriptor(USB_DT_DEVICE, 0);
    if (instrument_) {
        const auto& shape = instrument_->config().shape;
        l.has_configuration = shape.has_configuration;
        l.has_interface = shape.has_interface;
        l.has_altsetting = shape.has_altsetting;
        l.has_endpoint = shape.has_endpoint;
        l.total_length = 32;
        l.max_power = shape.max_power;
        l.interface_number = 1;
        l.endpoints = {{0x83, 0x02, shape.first_endpoint_max_packet, 0},
                       {0x04, 0x02, shape.first_endpoint_max_packet, 0}};
    } else {
        l.total_length = 25;
        l.attributes = 0xA0;
        l.max_power = 50;
        l.interface_number = 0;
        l.endpoints = {{0x81, 0x03, 8, 10}};
    }
    return l;
}

int BusDevice::command(int request_type, int request, int value, int index,
                       std::span<const std::uint8_t> data, int timeout_ms) {
    if (!instrument_) return -EPIPE;
    return instrument_->command(request_type, request, value, index, data, timeout_ms);
}

int BusDevice::bulk_in(int endpoint, std::span<std::uint8_t> buffer, int timeout_ms) {
    return instrument_ ? instrument_->bulk_in(endpoint, buffer, timeout_ms) : -EINVAL;
}

int BusDevice::bulk_out(int endpoint, std::span<const std::uint8_t> data, int timeout_ms) {
    return instrument_ ? instrument_->bulk_out(endpoint, data, timeout_ms) : -EINVAL;
}

int BusDevice::wait_out(Clock& clock, int timeout_ms) {
    if (instrument_) return instrument_->wait_out(timeout_ms);
    if (timeout_ms > 0) clock.sleep_ms(timeout_ms);
    return -ETIMEDOUT;
}

}  // namespace quillon::sim
