#pragma once
// The bus and device lists as libusb-0.1 hands them out: genuine library structures,
// device lists rebuilt at each scan and the previous ones freed, as the library does.
#include <usb.h>

#include <cstdint>
#include <vector>

namespace quillon::sim {

struct EndpointListing {
    std::uint8_t address = 0;
    std::uint8_t attributes = 0x02;  // bulk
    std::uint16_t max_packet = 64;
    std::uint8_t interval = 0;
};

// What one device shows of itself to a scan.
struct DeviceListing {
    int device = -1;  // add order over all devices
    int bus = 0;
    std::uint8_t devnum = 0;
    std::uint32_t generation = 0;  // of the enumeration the scan saw
    std::vector<std::uint8_t> device_descriptor;  // the 18 bytes

    // The parsed configuration tree; a level left out is a null pointer with a count of 0.
    bool has_configuration = true;
    bool has_interface = true;
    bool has_altsetting = true;
    bool has_endpoint = true;
    std::uint16_t total_length = 0;
    std::uint8_t configuration_value = 1;
    std::uint8_t attributes = 0x80;
    std::uint8_t max_power = 0x32;
    std::uint8_t interface_number = 0;
    std::uint8_t interface_class = 0xFF;
    std::vector<EndpointListing> endpoints;
};

class BusSnapshot {
public:
    BusSnapshot() = default;
    ~BusSnapshot();
    BusSnapshot(const BusSnapshot&) = delete;
    BusSnapshot& operator=(const BusSnapshot&) = delete;

    // Lists busses 0 .. count-1; busses listed before keep their structures. Returns the
    // number of busses new to the list.
    int list_busses(int count);
    int listed_busses() const { return static_cast<int>(busses_.size()); }
    // Replaces every bus's device list, freeing the previous structures. Each listing
    // names a listed bus. Returns the number of devices that appeared or went away.
    int list_devices(const std::vector<DeviceListing>& devices);

    struct usb_bus* head() const { return busses_.empty() ? nullptr : busses_.front(); }
    // The listing behind a device structure of the current lists; null for any other pointer.
    const DeviceListing* find(const struct usb_device* dev) const;

private:
    struct Entry {
        struct usb_device* dev;
        DeviceListing listing;
    };
    void free_devices(std::vector<Entry>& entries);

    std::vector<struct usb_bus*> busses_;
    std::vector<Entry> devices_;
};

}  // namespace quillon::sim
