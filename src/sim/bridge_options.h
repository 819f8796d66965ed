#pragma once
// The command line of usbfs-bridge: which instruments sit on the bus, how they misbehave,
// and the command to run against them.
#include "faults.h"
#include "sim_instrument.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon::sim {

// One instrument on the bridge's bus.
struct BridgeInstrument {
    InstrumentConfig config;
    std::optional<std::int64_t> appears_at_ms;  // nothing: on the bus from the start
    std::vector<Fault> faults;
};

struct BridgeOptions {
    std::vector<BridgeInstrument> instruments;  // port 1, port 2, ...
    bool power_button_held = true;  // a restart then starts the loader
    std::string dump_flash;         // file for the first instrument's flash, when set
    bool trace = false;             // one line per usbfs request on stderr
    std::vector<std::string> command;
};

// Bytes from here to the end of the flash make up a dump.
inline constexpr std::uint32_t DUMP_BASE = 0x08004000;

// Reads the arguments after the program name; nothing, with the reason in `error`,
// when they do not make a run.
std::optional<BridgeOptions> parse_bridge_options(const std::vector<std::string>& args,
                                                  std::string& error);

// "STEP:KIND[:first=N][:times=N|forever][:command=N][:value=N]", for instance
// "bulk-read:timeout:times=forever" or "command:short:command=9:value=8".
std::optional<Fault> parse_fault(const std::string& spec, std::string& error);

const char* bridge_usage();

}  // namespace quillon::sim
