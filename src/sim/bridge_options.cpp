#include "sim/bridge_options.h"

#include <array>
#include <charconv>
#include <utility>

namespace quillon::sim {

namespace {

constexpr std::array<std::pair<const char*, Step>, 8> STEPS{{
    {"open", Step::Open},
    {"set-configuration", Step::SetConfiguration},
    {"claim-interface", Step::ClaimInterface},
    {"get-descriptor", Step::GetDescriptor},
    {"get-string", Step::GetString},
    {"command", Step::Command},
    {"bulk-read", Step::BulkRead},
    {"bulk-write", Step::BulkWrite},
}};

constexpr std::array<std::pair<const char*, FaultKind>, 5> KINDS{{
    {"fail", FaultKind::Fail},
    {"timeout", FaultKind::Timeout},
    {"short", FaultKind::Short},
    {"throw", FaultKind::Throw},
    {"empty", FaultKind::Empty},
}};

std::optional<long long> number(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// What the real usbfs path can and cannot be made to do.
const char* unreachable(const Fault& fault) {
    if (fault.kind == FaultKind::Throw) return "libusb-0.1 never throws";
    if (fault.step == Step::Open)
        return "libusb-0.1 on Linux returns a handle whatever open() does";
    if (fault.kind == FaultKind::Empty && fault.step != Step::GetString)
        return "only get-string can read empty";
    if (fault.kind == FaultKind::Short &&
        (fault.step == Step::SetConfiguration || fault.step == Step::ClaimInterface))
        return "set-configuration and claim-interface move no bytes";
    if (fault.kind == FaultKind::Timeout && fault.step == Step::ClaimInterface)
        return "claiming an interface sends nothing that could time out";
    if (fault.command >= 0 && fault.step != Step::Command) return "command= needs the step command";
    return nullptr;
}

}  // namespace

std::optional<Fault> parse_fault(const std::string& spec, std::string& error) {
    const auto parts = split(spec, ':');
    if (parts.size() < 2) {
        error = "fault \"" + spec + "\": expected STEP:KIND";
        return std::nullopt;
    }
    Fault fault;
    bool step_known = false;
    for (const auto& [name, step] : STEPS) {
        if (parts[0] == name) {
            fault.step = step;
            step_known = true;
        }
    }
    bool kind_known = false;
    for (const auto& [name, kind] : KINDS) {
        if (parts[1] == name) {
            fault.kind = kind;
            kind_known = true;
        }
    }
    if (!step_known || !kind_known) {
        error = "fault \"" + spec + "\": unknown " + (step_known ? "kind" : "step");
        return std::nullopt;
    }
    for (std::size_t i = 2; i < parts.size(); ++i) {
        const std::size_t eq = parts[i].find('=');
        const std::string key = parts[i].substr(0, eq);
        const std::string text = eq == std::string::npos ? "" : parts[i].substr(eq + 1);
        const auto value = key == "times" && text == "forever" ? std::optional<long long>(-1)
                                                               : number(text);
        if (!value || *value < -1 || *value > 0xFFFFFFF) {
            error = "fault \"" + spec + "\": bad value in \"" + parts[i] + "\"";
            return std::nullopt;
        }
        const int v = static_cast<int>(*value);
        if (key == "first" && v >= 1) {
            fault.first = v;
        } else if (key == "times" && v != 0) {
            fault.times = v;
        } else if (key == "command" && v >= 0) {
            fault.command = v;
        } else if (key == "value" && v >= 0) {
            fault.value = v;
        } else {
            error = "fault \"" + spec + "\": bad setting \"" + parts[i] + "\"";
            return std::nullopt;
        }
    }
    if (const char* why = unreachable(fault)) {
        error = "fault \"" + spec + "\": " + why;
        return std::nullopt;
    }
    return fault;
}

std::optional<BridgeOptions> parse_bridge_options(const std::vector<std::string>& args,
                                                  std::string& error) {
    BridgeOptions options;
    BridgeInstrument first;
    BridgeInstrument second;
    bool has_first = true;
    bool has_second = false;
    std::uint16_t packet = 64;
    std::optional<int> reenumerate_ms;
    bool returns = true;

    std::size_t i = 0;
    auto value_of = [&](const std::string& option) -> std::optional<std::string> {
        if (i + 1 >= args.size()) {
            error = option + " needs a value";
            return std::nullopt;
        }
        return args[++i];
    };
    auto count_of = [&](const std::string& option) -> std::optional<long long> {
        auto text = value_of(option);
        if (!text) return std::nullopt;
        auto value = number(*text);
        if (!value || *value < 0 || *value > 24LL * 3600 * 1000) {
            error = option + ": not a count of milliseconds: " + *text;
            return std::nullopt;
        }
        return value;
    };

    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            options.command.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (arg == "--product") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            first.config.product = *text;
        } else if (arg == "--second") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            second.config.product = *text;
            has_second = true;
        } else if (arg == "--packet") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            if (*text != "64" && *text != "512") {
                error = "--packet: 64 or 512, not " + *text;
                return std::nullopt;
            }
            packet = static_cast<std::uint16_t>(*number(*text));
        } else if (arg == "--no-instrument") {
            has_first = false;
        } else if (arg == "--appear-after") {
            auto ms = count_of(arg);
            if (!ms) return std::nullopt;
            first.appears_at_ms = *ms;
        } else if (arg == "--fault") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            auto fault = parse_fault(*text, error);
            if (!fault) return std::nullopt;
            first.faults.push_back(*fault);
        } else if (arg == "--no-return") {
            returns = false;
        } else if (arg == "--reenumerate-ms") {
            auto ms = count_of(arg);
            if (!ms) return std::nullopt;
            reenumerate_ms = static_cast<int>(*ms);
        } else if (arg == "--button") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            if (*text != "held" && *text != "released") {
                error = "--button: held or released, not " + *text;
                return std::nullopt;
            }
            options.power_button_held = *text == "held";
        } else if (arg == "--dump-flash") {
            auto text = value_of(arg);
            if (!text) return std::nullopt;
            options.dump_flash = *text;
        } else if (arg == "--trace") {
            options.trace = true;
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (options.command.empty()) {
        error = "no command after --";
        return std::nullopt;
    }
    if (!has_first && (has_second || !first.faults.empty() || first.appears_at_ms)) {
        error = "--no-instrument leaves nothing for --second, --fault or --appear-after";
        return std::nullopt;
    }
    if (!has_first && !options.dump_flash.empty()) {
        error = "--dump-flash needs an instrument";
        return std::nullopt;
    }
    for (BridgeInstrument* instrument : {&first, &second}) {
        instrument->config.shape.first_endpoint_max_packet = packet;
        instrument->config.returns_after_restart = returns;
        if (reenumerate_ms) instrument->config.reenumerate_ms = *reenumerate_ms;
    }
    if (has_first) options.instruments.push_back(first);
    if (has_second) options.instruments.push_back(second);
    return options;
}

const char* bridge_usage() {
    return "usage: usbfs-bridge [options] -- COMMAND [ARGS...]\n"
           "Serves the simulated instrument to COMMAND's libusb-0.1 through umockdev.\n"
           "  --product TEXT        product string of the instrument (default TR-518)\n"
           "  --packet 64|512       wMaxPacketSize of its first endpoint (default 64)\n"
           "  --second TEXT         a second instrument, with this product string, on port 2\n"
           "  --no-instrument       the root hub alone\n"
           "  --appear-after MS     the instrument is plugged in MS ms after the start\n"
           "  --fault SPEC          a fault of the first instrument, repeatable; SPEC is\n"
           "                        STEP:KIND[:first=N][:times=N|forever][:command=N][:value=N]\n"
           "                        STEP: set-configuration claim-interface get-descriptor\n"
           "                              get-string command bulk-read bulk-write\n"
           "                        KIND: fail timeout short empty\n"
           "  --no-return           a restart takes the instrument off the bus for good\n"
           "  --reenumerate-ms MS   time off the bus after a restart or reset (default 800)\n"
           "  --button held|released  the power button during the run (default held)\n"
           "  --dump-flash FILE     at the end, writes the first instrument's flash from\n"
           "                        0x08004000 to the end of the flash (507904 bytes)\n"
           "  --trace               one line per usbfs request on stderr\n"
           "Exit status: COMMAND's; 77 when umockdev cannot run here; 2 for a bad command line.\n";
}

}  // namespace quillon::sim
