#pragma once
// The simulated TR-518 / TR-760: its descriptors, its command protocol and its flash.
// Transport-neutral, so the in-process bus and the usbfs bridge reach the same model.
#include "faults.h"
#include "link/clock.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::sim {

// The shape of the descriptor tree; every level can be left out to test robustness.
struct DescriptorShape {
    bool has_configuration = true;
    bool has_interface = true;
    bool has_altsetting = true;
    bool has_endpoint = true;
    std::uint16_t first_endpoint_max_packet = 64;  // 64 (full speed) or 512 (high speed)
    std::uint8_t max_power = 0x32;                 // bMaxPower, in the raw descriptor
};

struct InstrumentConfig {
    std::uint16_t vendor_id = 0x0483;
    std::uint16_t product_id = 0x5720;
    std::string product = "TR-518";  // any string, also empty or longer than 6 characters
    DescriptorShape shape;
    // Raw configuration descriptor bytes served by usb_get_descriptor, instead of the
    // ones built from `shape`.
    std::optional<std::vector<std::uint8_t>> raw_configuration;
    int reenumerate_ms = 800;          // off the bus for this long after a restart or reset
    bool returns_after_restart = true; // false: a restart takes it off the bus for good
};

enum class Mode {
    Application,  // running the instrument firmware: reads memory, restarts, resets
    Loader,       // restarted with the power button held: also erases and writes flash
};

// Flash geometry of the model.
inline constexpr std::uint32_t FLASH_BASE = 0x08000000;
inline constexpr std::uint32_t FLASH_SIZE = 512 * 1024;
inline constexpr std::uint32_t ERASE_UNIT = 4096;  // 110 units cover the largest image

class SimInstrument {
public:
    SimInstrument(InstrumentConfig config, Clock& clock);

    const InstrumentConfig& config() const { return config_; }

    // --- what the bus front ends ask of the model
    bool present() const;           // on the bus now (plugged in and not re-enumerating)
    std::uint8_t devnum() const;    // changes at each re-enumeration
    std::uint32_t generation() const;  // bumps at each drop off the bus; handles of an
                                       // older generation answer -ENODEV
    std::vector<std::uint8_t> device_descriptor() const;         // 18 bytes
    std::vector<std::uint8_t> configuration_descriptor() const;  // the whole raw descriptor

    // Control OUT with a command block; bytes taken, or a negative errno.
    int command(int request_type, int request, int value, int index,
                std::span<const std::uint8_t> data, int timeout_ms);
    // Bulk transfers; bytes moved, or a negative errno. Time-outs use up the clock.
    int bulk_in(int endpoint, std::span<std::uint8_t> buffer, int timeout_ms);
    int bulk_out(int endpoint, std::span<const std::uint8_t> data, int timeout_ms);

    // --- the test's and the demo's hands on the instrument
    void plug_in_at(std::int64_t ms);   // not on the bus before this virtual time
    void unplug_at(std::int64_t ms);    // gone from this time on
    void set_power_button(bool held);
    bool power_button() const { return power_button_; }
    Mode mode() const { return mode_; }

    // Flash contents, by absolute address.
    std::vector<std::uint8_t> read_flash(std::uint32_t address, std::uint32_t length) const;
    void fill_flash(std::uint32_t address, std::span<const std::uint8_t> bytes);

    // Number of restarts and resets received.
    int restarts() const { return restarts_; }
    int resets() const { return resets_; }

private:
    InstrumentConfig config_;
    Clock& clock_;
    bool power_button_ = false;
    Mode mode_ = Mode::Application;
    int restarts_ = 0;
    int resets_ = 0;
    // The implementation adds the rest of the state here.
};

}  // namespace quillon::sim
