#pragma once
// Fault switches of the simulated instrument: which call misbehaves, how, and when.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillon::sim {

enum class Step {
    Open,              // usb_open
    SetConfiguration,  // usb_set_configuration
    ClaimInterface,    // usb_claim_interface
    GetDescriptor,     // usb_get_descriptor
    GetString,         // usb_get_string_simple
    Command,           // usb_control_msg carrying a command block
    BulkRead,          // usb_bulk_read
    BulkWrite,         // usb_bulk_write
};

enum class FaultKind {
    Fail,     // the call fails at once (negative result, error text set)
    Timeout,  // the call uses up its time-out on the clock, then fails with -ETIMEDOUT
    Short,    // the call moves `value` bytes instead of all (for GetString: returns `value`)
    Throw,    // the call throws SimulatedException
    Empty,    // GetString: reads an empty string (result 0)
};

struct Fault {
    Step step = Step::Open;
    FaultKind kind = FaultKind::Fail;
    int first = 1;     // the 1-based occurrence of `step` at which the fault begins
    int times = 1;     // how many occurrences it covers; -1 for ever
    int command = -1;  // Step::Command only: the command code it applies to; -1 any
    int value = 0;     // FaultKind::Short: the result the call returns instead
};

struct SimulatedException : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace quillon::sim
