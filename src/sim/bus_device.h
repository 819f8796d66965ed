#pragma once
// One device on a simulated bus, ours or a foreign one, as the USB stack reaches it.
#include "bus_snapshot.h"
#include "fault_schedule.h"
#include "foreign_device.h"
#include "sim_instrument.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quillon::sim {

class BusDevice {
public:
    BusDevice(int bus, std::unique_ptr<SimInstrument> instrument);
    BusDevice(int bus, ForeignDevice foreign);

    int bus() const { return bus_; }
    SimInstrument* instrument() const { return instrument_.get(); }
    FaultSchedule& faults() { return faults_; }

    bool present() const;
    std::uint32_t generation() const;
    std::uint8_t devnum() const;
    int interface_number() const { return instrument_ ? 1 : 0; }

    // What a GET_DESCRIPTOR request returns; nullopt: the device stalls it.
    std::optional<std::vector<std::uint8_t>> descriptor(int type, int index) const;
    // What a scan lists of it, as device number `index` in add order.
    DeviceListing listing(int index) const;

    // The transfers; a foreign device stalls vendor requests and has no bulk endpoint.
    int command(int request_type, int request, int value, int index,
                std::span<const std::uint8_t> data, int timeout_ms);
    int bulk_in(int endpoint, std::span<std::uint8_t> buffer, int timeout_ms);
    int bulk_out(int endpoint, std::span<const std::uint8_t> data, int timeout_ms);
    // A transfer left unanswered: uses up its time-out on `clock`.
    int wait_out(Clock& clock, int timeout_ms);

private:
    int bus_;
    std::unique_ptr<SimInstrument> instrument_;
    std::optional<ForeignDevice> foreign_;
    FaultSchedule faults_;
};

}  // namespace quillon::sim
