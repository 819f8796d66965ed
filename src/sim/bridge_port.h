#pragma once
// One instrument on the bridge's bus as usbfs shows it: the contents of its device node
// and the answers to the ioctls that libusb-0.1 makes on it, all taken from the model.
#include "fault_schedule.h"
#include "sim_instrument.h"

#include <umockdev.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quillon::sim {

class BridgePort {
public:
    BridgePort(int port, InstrumentConfig config, Clock& clock,
               std::function<std::uint8_t()> next_devnum, const std::vector<Fault>& faults,
               bool trace);

    int port() const { return port_; }
    SimInstrument& instrument() { return instrument_; }
    const SimInstrument& instrument() const { return instrument_; }

    // What read() gives a scan: the device descriptor, then the configuration descriptor.
    std::vector<std::uint8_t> node_contents() const;

    // Answers one ioctl on the node made for enumeration `generation`. The caller holds
    // the bridge's lock; some answers come later, from another thread.
    void answer(UMockdevIoctlClient* client, std::uint32_t generation);

private:
    long control(UMockdevIoctlData* arg, int& delay_ms);
    long descriptor(int type, int index, std::span<std::uint8_t> out, int& delay_ms,
                    int timeout_ms);
    long command(int request_type, int request, int value, int index,
                 std::span<const std::uint8_t> block, int timeout_ms, int& delay_ms);
    long set_configuration(UMockdevIoctlData* arg, int& delay_ms);
    long claim_interface(UMockdevIoctlData* arg);
    long submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    long reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait);
    long discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool has_interface(int number) const;
    void trace(const std::string& line) const;

    int port_;
    SimInstrument instrument_;
    FaultSchedule faults_;
    bool trace_;
};

}  // namespace quillon::sim
