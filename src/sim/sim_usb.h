#pragma once
// The simulated USB stack behind the program's UsbApi: busses and devices as genuine
// libusb-0.1 structures, the call record, open handles and claimed interfaces, faults.
#include "faults.h"
#include "link/usb_api.h"
#include "sim_instrument.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::sim {

// One library call as the program made it.
struct Call {
    std::string name;                 // "usb_open", "usb_control_msg", "usb_bulk_write", ...
    std::vector<long> args;           // the integer arguments, in order, without the handle
    std::vector<std::uint8_t> data;   // bytes sent (control OUT, bulk write) or received
    int result = 0;
    int device = -1;                  // index of the device in add order; -1 for none
};

class SimUsb final : public UsbApi {
public:
    explicit SimUsb(Clock& clock);
    ~SimUsb() override;

    // --- building the bus
    int add_bus();  // returns the bus index; busses are listed in add order
    // An instrument on `bus`; returns it for further setting. Listed in add order on its bus.
    SimInstrument& add_instrument(int bus, InstrumentConfig config = {});
    // A device that is not ours (other identifiers).
    void add_foreign_device(int bus, std::uint16_t vendor_id, std::uint16_t product_id);
    // Faults of the instrument added as number `device` (add order over all devices).
    void add_fault(int device, Fault fault);
    // Faults of the first instrument.
    void add_fault(Fault fault) { add_fault(first_instrument_device(), fault); }
    SimInstrument& instrument(int n = 0);  // n-th instrument in add order

    // --- what a test reads afterwards
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> calls_named(const std::string& name) const;
    int open_handles() const;          // handles opened and not yet closed
    int claimed_interfaces() const;    // interfaces claimed on open handles, not released
    void clear_calls() { calls_.clear(); }

    // --- UsbApi
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

private:
    int first_instrument_device() const;
    struct State;
    std::unique_ptr<State> state_;
    std::vector<Call> calls_;
};

}  // namespace quillon::sim
