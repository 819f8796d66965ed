#pragma once
// Passes every call through to the simulated bus and times the bulk writes, the one USB
// call of the transfer loop.
#include "link/usb_api.h"
#include "monotonic.h"

#include <vector>

namespace quillon::bench {

class TimedUsb final : public UsbApi {
public:
    explicit TimedUsb(UsbApi& inner) : inner_(inner) {
        bulk_write_us_.reserve(8192);
    }

    void init() override { inner_.init(); }
    int find_busses() override { return inner_.find_busses(); }
    int find_devices() override { return inner_.find_devices(); }
    struct usb_bus* get_busses() override { return inner_.get_busses(); }
    usb_dev_handle* open(struct usb_device* dev) override { return inner_.open(dev); }
    int close(usb_dev_handle* dev) override { return inner_.close(dev); }
    int set_configuration(usb_dev_handle* dev, int configuration) override {
        return inner_.set_configuration(dev, configuration);
    }
    int claim_interface(usb_dev_handle* dev, int interface) override {
        return inner_.claim_interface(dev, interface);
    }
    int release_interface(usb_dev_handle* dev, int interface) override {
        return inner_.release_interface(dev, interface);
    }
    int get_descriptor(usb_dev_handle* dev, unsigned char type, unsigned char index, void* buf,
                       int size) override {
        return inner_.get_descriptor(dev, type, index, buf, size);
    }
    int get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) override {
        return inner_.get_string_simple(dev, index, buf, buflen);
    }
    int control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) override {
        return inner_.control_msg(dev, requesttype, request, value, index, bytes, size, timeout);
    }
    int bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) override {
        return inner_.bulk_read(dev, ep, bytes, size, timeout);
    }
    int bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                   int timeout) override {
        const std::int64_t start = monotonic_ns();
        const int result = inner_.bulk_write(dev, ep, bytes, size, timeout);
        bulk_write_us_.push_back(us_since(start));
        return result;
    }
    const char* strerror() override { return inner_.strerror(); }

    const std::vector<double>& bulk_write_us() const { return bulk_write_us_; }

private:
    UsbApi& inner_;
    std::vector<double> bulk_write_us_;
};

}  // namespace quillon::bench
