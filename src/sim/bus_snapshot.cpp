#include "sim/bus_snapshot.h"

#include <algorithm>
#include <cstdio>

namespace quillon::sim {

namespace {

// `usb_device` also names a function of the library, so the type needs its tag.
using UsbDevice = struct usb_device;
using UsbBus = struct usb_bus;

std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void fill_descriptor(struct usb_device_descriptor& d, const std::vector<std::uint8_t>& b) {
    d.bLength = b[0];
    d.bDescriptorType = b[1];
    d.bcdUSB = le16(b, 2);
    d.bDeviceClass = b[4];
    d.bDeviceSubClass = b[5];
    d.bDeviceProtocol = b[6];
    d.bMaxPacketSize0 = b[7];
    d.idVendor = le16(b, 8);
    d.idProduct = le16(b, 10);
    d.bcdDevice = le16(b, 12);
    d.iManufacturer = b[14];
    d.iProduct = b[15];
    d.iSerialNumber = b[16];
    d.bNumConfigurations = b[17];
}

struct usb_interface_descriptor* build_altsetting(const DeviceListing& l) {
    auto* alt = new struct usb_interface_descriptor[1]{};
    alt->bLength = USB_DT_INTERFACE_SIZE;
    alt->bDescriptorType = USB_DT_INTERFACE;
    alt->bInterfaceNumber = l.interface_number;
    alt->bInterfaceClass = l.interface_class;
    if (l.has_endpoint && !l.endpoints.empty()) {
        alt->bNumEndpoints = static_cast<std::uint8_t>(l.endpoints.size());
        alt->endpoint = new struct usb_endpoint_descriptor[l.endpoints.size()]{};
        for (std::size_t i = 0; i < l.endpoints.size(); ++i) {
            auto& ep = alt->endpoint[i];
            ep.bLength = USB_DT_ENDPOINT_SIZE;
            ep.bDescriptorType = USB_DT_ENDPOINT;
            ep.bEndpointAddress = l.endpoints[i].address;
            ep.bmAttributes = l.endpoints[i].attributes;
            ep.wMaxPacketSize = l.endpoints[i].max_packet;
            ep.bInterval = l.endpoints[i].interval;
        }
    }
    return alt;
}

struct usb_config_descriptor* build_configuration(const DeviceListing& l) {
    auto* config = new struct usb_config_descriptor[1]{};
    config->bLength = USB_DT_CONFIG_SIZE;
    config->bDescriptorType = USB_DT_CONFIG;
    config->wTotalLength = l.total_length;
    config->bConfigurationValue = l.configuration_value;
    config->bmAttributes = l.attributes;
    config->MaxPower = l.max_power;
    if (l.has_interface) {
        config->bNumInterfaces = 1;
        config->interface = new struct usb_interface[1]{};
        if (l.has_altsetting) {
            config->interface->num_altsetting = 1;
            config->interface->altsetting = build_altsetting(l);
        }
    }
    return config;
}

// Walks the tree the way the library's own destructor does, level by level.
void free_device(struct usb_device* dev) {
    if (dev->config) {
        for (int c = 0; c < dev->descriptor.bNumConfigurations; ++c) {
            auto& config = dev->config[c];
            for (int i = 0; config.interface && i < config.bNumInterfaces; ++i) {
                auto& interface = config.interface[i];
                for (int a = 0; interface.altsetting && a < interface.num_altsetting; ++a) {
                    delete[] interface.altsetting[a].endpoint;
                }
                delete[] interface.altsetting;
            }
            delete[] config.interface;
        }
        delete[] dev->config;
    }
    delete dev;
}

}  // namespace

BusSnapshot::~BusSnapshot() {
    free_devices(devices_);
    for (auto* bus : busses_) delete bus;
}

int BusSnapshot::list_busses(int count) {
    const int before = listed_busses();
    for (int n = before; n < count; ++n) {
        auto* bus = new UsbBus{};
        std::snprintf(bus->dirname, sizeof bus->dirname, "%03d", n + 1);
        bus->location = static_cast<std::uint32_t>(n + 1);
        if (!busses_.empty()) {
            bus->prev = busses_.back();
            busses_.back()->next = bus;
        }
        busses_.push_back(bus);
    }
    return std::max(0, count - before);
}

int BusSnapshot::list_devices(const std::vector<DeviceListing>& devices) {
    std::vector<Entry> previous;
    previous.swap(devices_);
    for (auto* bus : busses_) bus->devices = nullptr;

    std::vector<struct usb_device*> tails(busses_.size(), nullptr);
    for (const auto& listing : devices) {
        auto* dev = new UsbDevice{};
        std::snprintf(dev->filename, sizeof dev->filename, "%03u", unsigned{listing.devnum});
        dev->bus = busses_.at(static_cast<std::size_t>(listing.bus));
        fill_descriptor(dev->descriptor, listing.device_descriptor);
        if (listing.has_configuration) {
            dev->descriptor.bNumConfigurations = 1;
            dev->config = build_configuration(listing);
        } else {
            dev->descriptor.bNumConfigurations = 0;
        }
        dev->devnum = listing.devnum;

        auto& tail = tails[static_cast<std::size_t>(listing.bus)];
        if (tail) {
            tail->next = dev;
            dev->prev = tail;
        } else {
            dev->bus->devices = dev;
        }
        tail = dev;
        devices_.push_back({dev, listing});
    }

    const auto same = [](const Entry& a, const Entry& b) {
        return a.listing.device == b.listing.device && a.listing.devnum == b.listing.devnum;
    };
    int changes = 0;
    for (const auto& old : previous) {
        changes += std::none_of(devices_.begin(), devices_.end(),
                                [&](const Entry& e) { return same(e, old); });
    }
    for (const auto& now : devices_) {
        changes += std::none_of(previous.begin(), previous.end(),
                                [&](const Entry& e) { return same(e, now); });
    }
    free_devices(previous);
    return changes;
}

const DeviceListing* BusSnapshot::find(const struct usb_device* dev) const {
    for (const auto& entry : devices_) {
        if (entry.dev == dev) return &entry.listing;
    }
    return nullptr;
}

void BusSnapshot::free_devices(std::vector<Entry>& entries) {
    for (auto& entry : entries) free_device(entry.dev);
    entries.clear();
}

}  // namespace quillon::sim
