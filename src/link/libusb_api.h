#pragma once
#include "usb_api.h"

namespace quillon {

// Thin pass-through to the system's libusb-0.1.
class LibUsbApi final : public UsbApi {
public:
    void init() override;
    int find_busses() override;
    int find_devices() override;
    struct usb_bus* get_busses() override;
    usb_dev_handle* open(struct usb_device* dev) override;
    int close(usb_dev_handle* dev) override;
    int set_configuration(usb_dev_handle* dev, int configuration) override;
    int claim_interface(usb_dev_handle* dev, int interface) override;
    int release_interface(usb_dev_handle* dev, int interface) override;
    int get_descriptor(usb_dev_handle* dev, unsigned char type, unsigned char index, void* buf,
                       int size) override;
    int get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) override;
    int control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) override;
    int bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) override;
    int bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                   int timeout) override;
    const char* strerror() override;
};

}  // namespace quillon
