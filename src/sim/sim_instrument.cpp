#include "sim/sim_instrument.h"

#include <algorithm>
#include <cerrno>
#include <limits>

// How the model behaves where a real instrument leaves a choice:
// - Commands are answered at once. A block it does not understand (other request type,
//   request, value or index, a length that does not fit the code, an unknown code) and
//   an erase or write outside the loader stall the control pipe: -EPIPE.
// - A bulk transfer with nothing to move is NAKed until the host gives up: it uses up
//   its time-out on the clock and fails with -ETIMEDOUT. So is every byte of a bulk OUT
//   beyond the count the write command announced.
// - An erase covers whole ERASE_UNITs from an aligned address inside the flash; the
//   count is 12 bits. A write programs like NOR flash: it can only clear bits.
// - Memory outside the flash reads as 0x00.
// - Leaving the bus fails a transfer in progress at that moment with -ENODEV.
namespace quillon::sim {

namespace {

// The firmware's own view of the wire, written out here on purpose: the program's
// constants are checked against these, not borrowed from them.
constexpr int VENDOR_OUT = 0x40;
constexpr int COMMAND_REQUEST = 3;
constexpr int COMMAND_VALUE = 0x0200;
constexpr int COMMAND_INDEX = 0;
constexpr std::uint32_t READ_MEMORY = 2;
constexpr std::uint32_t WRITE_FLASH = 6;
constexpr std::uint32_t RESET = 7;
constexpr std::uint32_t RESTART = 8;
constexpr std::uint32_t ERASE_FLASH = 9;
constexpr int IN_ENDPOINT = 0x83;
constexpr int OUT_ENDPOINT = 0x04;

// The loader occupies the first sectors; above it sits the firmware of the last download.
constexpr std::uint32_t LOADER_END = 0x08004000;
constexpr std::int64_t NEVER = std::numeric_limits<std::int64_t>::max();

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint8_t lo(unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(unsigned v) { return static_cast<std::uint8_t>(v >> 8 & 0xFF); }

// Recognisable contents, never 0xFF, so an erase or a write shows in a read-back.
std::vector<std::uint8_t> factory_contents() {
    std::vector<std::uint8_t> bytes(FLASH_SIZE);
    for (std::uint32_t i = 0; i < FLASH_SIZE; ++i) {
        bytes[i] = FLASH_BASE + i < LOADER_END ? static_cast<std::uint8_t>((i * 13 + 0x5A) % 251)
                                               : static_cast<std::uint8_t>((i * 7 + 0x21) % 255);
    }
    return bytes;
}

}  // namespace

SimInstrument::SimInstrument(InstrumentConfig config, Clock& clock)
    : config_(std::move(config)), clock_(clock), flash_(FLASH_BASE, FLASH_SIZE) {
    const auto contents = factory_contents();
    flash_.fill(FLASH_BASE, contents);
    next_devnum_ = [n = first_devnum_]() mutable {
        n = n >= 127 ? 2 : n + 1;
        return n;
    };
}

void SimInstrument::set_address_allocator(std::function<std::uint8_t()> next_devnum) {
    next_devnum_ = std::move(next_devnum);
    first_devnum_ = next_devnum_();
}

// --- presence on the bus

bool SimInstrument::plugged_at(std::int64_t us) const {
    // On the bus from the start, unless its first event plugs it in.
    bool plugged = plug_events_.empty() || !plug_events_.front().plugged;
    for (const auto& event : plug_events_) {
        if (event.at_us > us) break;
        plugged = event.plugged;
    }
    return plugged;
}

std::int64_t SimInstrument::next_unplug_after(std::int64_t us) const {
    for (const auto& event : plug_events_) {
        if (event.at_us > us && !event.plugged) return event.at_us;
    }
    return NEVER;
}

bool SimInstrument::present() const {
    const std::int64_t now = clock_.now_us();
    if (!plugged_at(now)) return false;
    if (drops_.empty() || now >= drops_.back().back_us) return true;
    // Re-enumerating, unless it was unplugged and plugged in again since the drop.
    const auto& drop = drops_.back();
    return std::any_of(plug_events_.begin(), plug_events_.end(), [&](const PlugEvent& e) {
        return e.plugged && e.at_us > drop.at_us && e.at_us <= now;
    });
}

std::uint8_t SimInstrument::devnum() const {
    const std::int64_t now = clock_.now_us();
    std::int64_t latest = std::numeric_limits<std::int64_t>::min();
    std::uint8_t devnum = first_devnum_;
    for (const auto& drop : drops_) {
        if (drop.at_us <= now && drop.at_us >= latest) {
            latest = drop.at_us;
            devnum = drop.devnum;
        }
    }
    for (const auto& event : plug_events_) {
        if (event.plugged && event.at_us <= now && event.at_us >= latest) {
            latest = event.at_us;
            devnum = event.devnum;
        }
    }
    return devnum;
}

std::uint32_t SimInstrument::generation() const {
    const std::int64_t now = clock_.now_us();
    std::uint32_t drops = 0;
    for (const auto& drop : drops_) drops += drop.at_us <= now;
    for (const auto& event : plug_events_) drops += !event.plugged && event.at_us <= now;
    return drops;
}

void SimInstrument::plug_in_at(std::int64_t ms) {
    const std::int64_t at_us = ms * 1000;
    // Plugged in before anything else happens to it: that is when it first appears, under
    // the number it was given. A later plug-in brings it back under a new one.
    const bool first_appearance = plug_events_.empty() || at_us < plug_events_.front().at_us;
    add_plug_event({at_us, true, first_appearance ? first_devnum_ : next_devnum_()});
}

void SimInstrument::unplug_at(std::int64_t ms) { add_plug_event({ms * 1000, false, 0}); }

void SimInstrument::add_plug_event(const PlugEvent& event) {
    auto at = std::upper_bound(plug_events_.begin(), plug_events_.end(), event.at_us,
                               [](std::int64_t us, const PlugEvent& e) { return us < e.at_us; });
    plug_events_.insert(at, event);
}

void SimInstrument::set_power_button(bool held) { power_button_ = held; }

void SimInstrument::settle() {
    const std::uint32_t now_generation = generation();
    if (now_generation == settled_generation_) return;
    // Unplugged since: the power went away, and the firmware boots afresh.
    transfer_ = {};
    mode_ = Mode::Application;
    settled_generation_ = now_generation;
}

void SimInstrument::drop_off_bus(bool comes_back, Mode next_mode) {
    const std::int64_t now = clock_.now_us();
    const std::int64_t back =
        comes_back ? now + static_cast<std::int64_t>(config_.reenumerate_ms) * 1000 : NEVER;
    drops_.push_back({now, back, next_devnum_()});
    mode_ = next_mode;
    transfer_ = {};
    settled_generation_ = generation();
}

int SimInstrument::wait_out(int timeout_ms) {
    // libusb takes 0 as "wait for ever"; nothing here would ever answer, so give up at once.
    if (timeout_ms <= 0) return -ETIMEDOUT;
    const std::int64_t now = clock_.now_us();
    const std::int64_t deadline = now + static_cast<std::int64_t>(timeout_ms) * 1000;
    const std::int64_t unplug = next_unplug_after(now);
    if (present() && unplug <= deadline) {
        // The host controller fails the transfer the moment the device goes.
        clock_.sleep_ms(static_cast<int>((unplug - now + 999) / 1000));
        return -ENODEV;
    }
    clock_.sleep_ms(timeout_ms);
    return -ETIMEDOUT;
}

// --- descriptors

std::vector<std::uint8_t> SimInstrument::device_descriptor() const {
    const std::uint16_t vid = config_.vendor_id;
    const std::uint16_t pid = config_.product_id;
    return {
        18,   0x01,             // bLength, DEVICE
        0x00, 0x02,             // bcdUSB 2.00
        0x00, 0x00, 0x00,       // class, subclass, protocol: per interface
        64,                     // bMaxPacketSize0
        lo(vid), hi(vid), lo(pid), hi(pid),
        0x00, 0x01,             // bcdDevice 1.00
        1, 2, 3,                // iManufacturer, iProduct, iSerialNumber
        static_cast<std::uint8_t>(config_.shape.has_configuration ? 1 : 0),
    };
}

std::vector<std::uint8_t> SimInstrument::configuration_descriptor() const {
    if (config_.raw_configuration) return *config_.raw_configuration;
    const std::uint16_t packet = config_.shape.first_endpoint_max_packet;
    return {
        9, 0x02, 32, 0,              // CONFIGURATION, wTotalLength 32
        1, 1, 0, 0x80,               // one interface, value 1, no string, bus powered
        config_.shape.max_power,
        9, 0x04, 1, 0, 2,            // INTERFACE 1, alternate 0, two endpoints
        0xFF, 0x00, 0x00, 0,         // vendor specific, no string
        7, 0x05, IN_ENDPOINT, 0x02, lo(packet), hi(packet), 0,   // bulk IN
        7, 0x05, OUT_ENDPOINT, 0x02, lo(packet), hi(packet), 0,  // bulk OUT
    };
}

std::optional<std::string> SimInstrument::string_text(int index) const {
    switch (index) {
    case 1: return std::string("STMicroelectronics");
    case 2: return config_.product;
    case 3: return std::string("205E3A8B5030");
    default: return std::nullopt;
    }
}

std::uint16_t SimInstrument::packet_size() const {
    const std::uint16_t packet = config_.shape.first_endpoint_max_packet;
    return packet ? packet : 64;
}

// --- the command protocol

int SimInstrument::command(int request_type, int request, int value, int index,
                           std::span<const std::uint8_t> data, int timeout_ms) {
    (void)timeout_ms;  // every command is answered at once, well inside any time-out
    if (!present()) return -ENODEV;
    settle();
    // The firmware implements one vendor request; anything else stalls the control pipe.
    if (request_type != VENDOR_OUT || request != COMMAND_REQUEST || value != COMMAND_VALUE ||
        index != COMMAND_INDEX) {
        return -EPIPE;
    }
    if (data.size() != 4 && data.size() != 12) return -EPIPE;
    return execute(le32(data, 0), data);
}

int SimInstrument::execute(std::uint32_t code, std::span<const std::uint8_t> block) {
    const bool long_block = block.size() == 12;
    const int taken = static_cast<int>(block.size());
    switch (code) {
    case READ_MEMORY: {
        if (!long_block) return -EPIPE;
        const std::uint32_t count = le32(block, 8);
        transfer_ = count ? Transfer{Job::Read, le32(block, 4), count} : Transfer{};
        return taken;
    }
    case WRITE_FLASH: {
        if (!long_block || mode_ != Mode::Loader) return -EPIPE;
        const std::uint32_t address = le32(block, 4);
        const std::uint32_t count = le32(block, 8);
        if (!flash_.contains(address, count)) return -EPIPE;
        transfer_ = count ? Transfer{Job::Write, address, count} : Transfer{};
        return taken;
    }
    case ERASE_FLASH: {
        if (!long_block || mode_ != Mode::Loader) return -EPIPE;
        const std::uint32_t address = le32(block, 4);
        // A 12-bit count: the upper nibble of byte 9 and bytes 10 and 11 are not looked at.
        const std::uint32_t units = block[8] | (block[9] & 0x0Fu) << 8;
        const std::uint64_t length = std::uint64_t{units} * ERASE_UNIT;
        if (address % ERASE_UNIT != 0 || !flash_.contains(address, length)) return -EPIPE;
        transfer_ = {};
        flash_.erase(address, static_cast<std::uint32_t>(length));
        return taken;
    }
    case RESET:
        if (long_block) return -EPIPE;
        ++resets_;
        drop_off_bus(true, Mode::Application);
        return taken;
    case RESTART:
        if (long_block) return -EPIPE;
        ++restarts_;
        // The loader starts instead of the firmware when the power button is held.
        drop_off_bus(config_.returns_after_restart,
                     power_button_ ? Mode::Loader : Mode::Application);
        return taken;
    default:
        return -EPIPE;
    }
}

int SimInstrument::bulk_in(int endpoint, std::span<std::uint8_t> buffer, int timeout_ms) {
    if (!present()) return -ENODEV;
    settle();
    if (endpoint != IN_ENDPOINT) return -EINVAL;
    // Nothing to send: the endpoint NAKs until the host gives up.
    if (transfer_.job != Job::Read) return wait_out(timeout_ms);
    const std::size_t n =
        std::min({buffer.size(), std::size_t{packet_size()}, std::size_t{transfer_.remaining}});
    flash_.read(transfer_.address, buffer.first(n));
    transfer_.address += static_cast<std::uint32_t>(n);
    transfer_.remaining -= static_cast<std::uint32_t>(n);
    if (transfer_.remaining == 0) transfer_ = {};
    return static_cast<int>(n);
}

int SimInstrument::bulk_out(int endpoint, std::span<const std::uint8_t> data, int timeout_ms) {
    if (!present()) return -ENODEV;
    settle();
    if (endpoint != OUT_ENDPOINT) return -EINVAL;
    // Not expecting data: the endpoint NAKs until the host gives up.
    if (transfer_.job != Job::Write) return wait_out(timeout_ms);
    const std::size_t n = std::min(data.size(), std::size_t{transfer_.remaining});
    flash_.program(transfer_.address, data.first(n));
    transfer_.address += static_cast<std::uint32_t>(n);
    transfer_.remaining -= static_cast<std::uint32_t>(n);
    if (transfer_.remaining == 0) transfer_ = {};
    // Bytes beyond the announced count are never taken.
    if (n < data.size()) return wait_out(timeout_ms);
    return static_cast<int>(n);
}

// --- the test's hands

std::vector<std::uint8_t> SimInstrument::read_flash(std::uint32_t address,
                                                    std::uint32_t length) const {
    std::vector<std::uint8_t> bytes(length);
    flash_.read(address, bytes);
    return bytes;
}

void SimInstrument::fill_flash(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    flash_.fill(address, bytes);
}

}  // namespace quillon::sim
