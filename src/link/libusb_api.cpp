#include "libusb_api.h"

namespace quillon {

void LibUsbApi::init() { usb_init(); }
int LibUsbApi::find_busses() { return usb_find_busses(); }
int LibUsbApi::find_devices() { return usb_find_devices(); }
struct usb_bus* LibUsbApi::get_busses() { return usb_get_busses(); }
usb_dev_handle* LibUsbApi::open(struct usb_device* dev) { return usb_open(dev); }
int LibUsbApi::close(usb_dev_handle* dev) { return usb_close(dev); }

int LibUsbApi::set_configuration(usb_dev_handle* dev, int configuration) {
    return usb_set_configuration(dev, configuration);
}
int LibUsbApi::claim_interface(usb_dev_handle* dev, int interface) {
    return usb_claim_interface(dev, interface);
}
int LibUsbApi::release_interface(usb_dev_handle* dev, int interface) {
    return usb_release_interface(dev, interface);
}
int LibUsbApi::get_descriptor(usb_dev_handle* dev, unsigned char type, unsigned char index,
                              void* buf, int size) {
    return usb_get_descriptor(dev, type, index, buf, size);
}
int LibUsbApi::get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
    return usb_get_string_simple(dev, index, buf, buflen);
}
int LibUsbApi::control_msg(usb_dev_handle* dev, int requesttype, int request, int value,
                           int index, char* bytes, int size, int timeout) {
    return usb_control_msg(dev, requesttype, request, value, index, bytes, size, timeout);
}
int LibUsbApi::bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    return usb_bulk_read(dev, ep, bytes, size, timeout);
}
int LibUsbApi::bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                          int timeout) {
    return usb_bulk_write(dev, ep, bytes, size, timeout);
}
const char* LibUsbApi::strerror() { return usb_strerror(); }

}  // namespace quillon
