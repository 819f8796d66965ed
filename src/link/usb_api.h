#pragma once
// The program's one way to the USB library: exactly the libusb-0.1 calls it makes,
// with libusb-0.1's own types, so discovery walks the structures the real library exposes.
#include <usb.h>

#include <cstddef>

namespace quillon {

class UsbApi {
public:
    virtual ~UsbApi() = default;

    virtual void init() = 0;
    virtual int find_busses() = 0;
    virtual int find_devices() = 0;
    virtual struct usb_bus* get_busses() = 0;

    virtual usb_dev_handle* open(struct usb_device* dev) = 0;
    virtual int close(usb_dev_handle* dev) = 0;
    virtual int set_configuration(usb_dev_handle* dev, int configuration) = 0;
    virtual int claim_interface(usb_dev_handle* dev, int interface) = 0;
    virtual int release_interface(usb_dev_handle* dev, int interface) = 0;

    virtual int get_descriptor(usb_dev_handle* dev, unsigned char type, unsigned char index,
                               void* buf, int size) = 0;
    virtual int get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) = 0;

    virtual int control_msg(usb_dev_handle* dev, int requesttype, int request, int value,
                            int index, char* bytes, int size, int timeout) = 0;
    virtual int bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) = 0;
    virtual int bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                           int timeout) = 0;

    // Text of the library's last error.
    virtual const char* strerror() = 0;
};

}  // namespace quillon
