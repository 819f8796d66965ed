#pragma once
// A simulated bus on virtual time, and the wire written out byte by byte, so these tests
// check the simulation against the protocol rather than against the program's constants.
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::sim::testing {

using quillon::testing::Bytes;
using quillon::testing::hex;

inline constexpr int VENDOR_OUT = 0x40;
inline constexpr int COMMAND = 3;
inline constexpr int VALUE = 0x0200;
inline constexpr int BULK_IN = 0x83;
inline constexpr int BULK_OUT = 0x04;
inline constexpr std::uint32_t APP_BASE = 0x08004000;

inline void put32(Bytes& bytes, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}
inline Bytes block(std::uint32_t code) {
    Bytes bytes;
    put32(bytes, code);
    return bytes;
}
inline Bytes block(std::uint32_t code, std::uint32_t address, std::uint32_t count) {
    Bytes bytes = block(code);
    put32(bytes, address);
    put32(bytes, count);
    return bytes;
}
inline Bytes read_block(std::uint32_t address, std::uint32_t count) {
    return block(2, address, count);
}
inline Bytes write_block(std::uint32_t address, std::uint32_t count) {
    return block(6, address, count);
}
inline Bytes erase_block(std::uint32_t address, std::uint32_t units) {
    return block(9, address, units);
}
inline const Bytes RESET = block(7);
inline const Bytes RESTART = block(8);

// A bus with one TR-518 on it, opened and ready for commands.
class SimBus : public ::testing::Test {
public:
    explicit SimBus(InstrumentConfig config = {}) : instrument(usb.add_instrument(bus, config)) {}

    // Rescans and opens the n-th device of the first bus.
    usb_dev_handle* scan_and_open(int n = 0) {
        usb.init();
        usb.find_busses();
        usb.find_devices();
        struct usb_device* dev = usb.get_busses()->devices;
        for (int i = 0; dev && i < n; ++i) dev = dev->next;
        return dev ? usb.open(dev) : nullptr;
    }
    void SetUp() override { handle = scan_and_open(); }

    int send(const Bytes& bytes, int timeout_ms = 1000) {
        Bytes copy = bytes;
        return usb.control_msg(handle, VENDOR_OUT, COMMAND, VALUE, 0,
                               reinterpret_cast<char*>(copy.data()), static_cast<int>(copy.size()),
                               timeout_ms);
    }
    // One bulk IN transfer; the bytes that came, or the negative result alone.
    std::pair<int, Bytes> read(int size, int timeout_ms = 100) {
        Bytes buffer(static_cast<std::size_t>(size));
        const int got = usb.bulk_read(handle, BULK_IN, reinterpret_cast<char*>(buffer.data()), size,
                                      timeout_ms);
        buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return {got, buffer};
    }
    int write(const Bytes& bytes, int timeout_ms = 1000) {
        return usb.bulk_write(handle, BULK_OUT, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<int>(bytes.size()), timeout_ms);
    }
    // Restarts with the power button held and reopens the instrument in its loader.
    void enter_loader() {
        instrument.set_power_button(true);
        ASSERT_EQ(send(RESTART, 100), 4);
        instrument.set_power_button(false);
        usb.close(handle);
        clock.sleep_ms(instrument.config().reenumerate_ms);
        handle = scan_and_open();
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(instrument.mode(), Mode::Loader);
    }

    VirtualClock clock;
    SimUsb usb{clock};
    int bus = usb.add_bus();
    SimInstrument& instrument;
    usb_dev_handle* handle = nullptr;
};

}  // namespace quillon::sim::testing
