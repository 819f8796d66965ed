#pragma once
// Passes every call on to another UsbApi; a decorator overrides only the calls it watches.
#include "usb_api.h"

namespace quillon {

class ForwardingUsbApi : public UsbApi {
public:
    explicit ForwardingUsbApi(UsbApi& inner) : inner_(inner) {}

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
        return inner_.bulk_write(dev, ep, bytes, size, timeout);
    }
    const char* strerror() override { return inner_.strerror(); }

protected:
    UsbApi& inner() { return inner_; }

private:
    UsbApi& inner_;
};

}  // namespace quillon
