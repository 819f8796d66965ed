#pragma once
// The simulated TR-518 / TR-760: its descriptors, its command protocol and its flash.
// Transport-neutral, so the in-process bus and the usbfs bridge reach the same model.
#include "faults.h"
#include "flash_memory.h"
#include "link/clock.h"

#include <cstdint>
#include <functional>
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

    // String descriptor texts: 1 manufacturer, 2 product, 3 serial number; nullopt for
    // an index the instrument does not have.
    std::optional<std::string> string_text(int index) const;
    // A transfer the instrument never answers: sleeps out `timeout_ms` on the clock and
    // returns -ETIMEDOUT, or -ENODEV as soon as the instrument leaves the bus meanwhile.
    int wait_out(int timeout_ms);
    // The bus hands out device numbers; without it the instrument counts from 2 itself.
    void set_address_allocator(std::function<std::uint8_t()> next_devnum);

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

    // What the firmware is busy with: a memory read feeding bulk IN, or a flash write
    // waiting for bulk OUT. Any accepted command replaces it.
    enum class Job { None, Read, Write };
    struct Transfer {
        Job job = Job::None;
        std::uint32_t address = 0;
        std::uint32_t remaining = 0;
    };

    // Plug and unplug times set by the test or the demo, kept in time order.
    struct PlugEvent {
        std::int64_t at_us;
        bool plugged;
        std::uint8_t devnum;  // the number it gets when plugged in
    };
    // A restart or reset: off the bus from at_us until back_us.
    struct Drop {
        std::int64_t at_us;
        std::int64_t back_us;
        std::uint8_t devnum;  // the number it comes back under
    };

    int execute(std::uint32_t code, std::span<const std::uint8_t> block);
    void drop_off_bus(bool comes_back, Mode next_mode);
    // Forgets the work in hand when the power went away since the last call.
    void settle();
    void add_plug_event(const PlugEvent& event);
    bool plugged_at(std::int64_t us) const;
    std::int64_t next_unplug_after(std::int64_t us) const;
    std::uint16_t packet_size() const;

    FlashMemory flash_;
    Transfer transfer_;
    std::vector<PlugEvent> plug_events_;
    std::vector<Drop> drops_;
    std::uint8_t first_devnum_ = 2;
    std::uint32_t settled_generation_ = 0;
    std::function<std::uint8_t()> next_devnum_;
};

}  // namespace quillon::sim
