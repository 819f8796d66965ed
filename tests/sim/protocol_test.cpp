// The command protocol: memory read-back, erase units, NOR programming and modes.
#include "sim_fixture.h"

#include <algorithm>
#include <cerrno>
#include <tuple>

namespace quillon::sim::testing {
namespace {

class Protocol : public SimBus {
protected:
    // Every byte of a read-back, however many packets it takes.
    Bytes read_back(std::uint32_t address, std::uint32_t count) {
        EXPECT_EQ(send(read_block(address, count), 100), 12);
        Bytes bytes;
        while (bytes.size() < count) {
            auto [got, packet] = read(64);
            if (got <= 0) break;
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        }
        return bytes;
    }
};

TEST_F(Protocol, ReadBackFollowsTheMemoryMap) {
    const std::uint32_t flash_end = FLASH_BASE + FLASH_SIZE;
    // Loader and old firmware both read back, and the firmware area holds no erased byte.
    EXPECT_EQ(read_back(APP_BASE - 100, 300), instrument.read_flash(APP_BASE - 100, 300));
    const Bytes firmware = instrument.read_flash(APP_BASE, flash_end - APP_BASE);
    EXPECT_EQ(std::count(firmware.begin(), firmware.end(), 0xFF), 0);
    EXPECT_NE(instrument.read_flash(FLASH_BASE, 64), instrument.read_flash(APP_BASE, 64));

    // Outside the flash nothing is mapped: zeros.
    Bytes straddling = instrument.read_flash(flash_end - 10, 10);
    straddling.resize(74, 0x00);
    EXPECT_EQ(read_back(flash_end - 10, 74), straddling);
    EXPECT_EQ(read_back(0x20000000, 100), Bytes(100, 0x00));
    EXPECT_EQ(read_back(0xFFFFFFF0, 32), Bytes(32, 0x00));  // the top of the address space

    const Bytes pattern = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11};
    instrument.fill_flash(APP_BASE + 5, pattern);
    EXPECT_EQ(read_back(APP_BASE + 5, 6), pattern);
}

TEST(Packets, ReadsComeInPacketsUntilTheCountIsServed) {
    const struct {
        std::uint16_t max_packet;
        int asked;
        std::vector<int> results;
    } cases[] = {
        {64, 512, {64, 64, 64, 8}},
        {64, 10, {10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},  // 100 of 200 bytes
        {512, 512, {200}},
        {512, 100, {100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.max_packet) + " asked " + std::to_string(c.asked));
        VirtualClock clock;
        SimUsb usb{clock};
        InstrumentConfig config;
        config.shape.first_endpoint_max_packet = c.max_packet;
        SimInstrument& instrument = usb.add_instrument(usb.add_bus(), config);
        usb.find_busses();
        usb.find_devices();
        usb_dev_handle* handle = usb.open(usb.get_busses()->devices);
        Bytes command = read_block(APP_BASE, 200);
        ASSERT_EQ(usb.control_msg(handle, VENDOR_OUT, COMMAND, VALUE, 0,
                                  reinterpret_cast<char*>(command.data()), 12, 100),
                  12);
        Bytes got;
        std::vector<int> results;
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            Bytes buffer(static_cast<std::size_t>(c.asked));
            const int n = usb.bulk_read(handle, BULK_IN, reinterpret_cast<char*>(buffer.data()),
                                        c.asked, 100);
            results.push_back(n);
            if (n > 0) got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(got, instrument.read_flash(APP_BASE, static_cast<std::uint32_t>(got.size())));
        if (got.size() < 200) continue;
        // All served: the endpoint NAKs until the time-out is used up, to the millisecond.
        const std::int64_t before = clock.now_ms();
        char spare[64];
        EXPECT_EQ(usb.bulk_read(handle, BULK_IN, spare, 64, 100), -ETIMEDOUT);
        EXPECT_EQ(clock.now_ms() - before, 100);
        EXPECT_STREQ(usb.strerror(), "error reaping URB: Connection timed out");
    }
}

TEST_F(Protocol, EraseClearsWholeUnitsOfATwelveBitCount) {
    const struct {
        const char* name;
        Bytes count;  // bytes 8 to 11 of the block
        std::uint32_t units;
    } cases[] = {
        {"one unit", {0x01, 0x00, 0x00, 0x00}, 1},
        {"upper nibble of byte 9 ignored", {0x02, 0xF0, 0x00, 0x00}, 2},
        {"the download's 110 units", {0x6E, 0x00, 0x00, 0x00}, 110},
    };
    enter_loader();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes untouched = instrument.read_flash(APP_BASE - 64, 64);
        Bytes old_firmware(FLASH_SIZE);
        for (std::size_t i = 0; i < old_firmware.size(); ++i) {
            old_firmware[i] = static_cast<std::uint8_t>(i % 251 + 1);
        }
        instrument.fill_flash(FLASH_BASE + 0x4000, {old_firmware.data(), FLASH_SIZE - 0x4000});
        Bytes erase = block(9);
        put32(erase, APP_BASE);
        erase.insert(erase.end(), c.count.begin(), c.count.end());
        ASSERT_EQ(send(erase, 5000), 12);

        const std::uint32_t length = c.units * ERASE_UNIT;
        EXPECT_EQ(instrument.read_flash(APP_BASE, length), Bytes(length, 0xFF));
        EXPECT_EQ(instrument.read_flash(APP_BASE - 64, 64), untouched);
        EXPECT_EQ(instrument.read_flash(APP_BASE + length, 1), Bytes{old_firmware[length]});
    }
}

TEST_F(Protocol, EraseOutsideWholeUnitsOfFlashStalls) {
    enter_loader();
    const Bytes before = instrument.read_flash(FLASH_BASE, FLASH_SIZE);
    EXPECT_EQ(send(erase_block(APP_BASE + 1, 1)), -EPIPE);                        // unaligned
    EXPECT_EQ(send(erase_block(FLASH_BASE + FLASH_SIZE - ERASE_UNIT, 2)), -EPIPE);  // past the end
    EXPECT_EQ(send(erase_block(0x20000000, 1)), -EPIPE);                          // not flash
    EXPECT_EQ(instrument.read_flash(FLASH_BASE, FLASH_SIZE), before);
}

Bytes image(std::size_t n, std::uint8_t seed) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + seed);
    return bytes;
}

Bytes anded(const Bytes& a, const Bytes& b) {
    Bytes out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] & b[i];
    return out;
}

TEST_F(Protocol, WritesProgramLikeNorFlash) {
    enter_loader();
    const Bytes first = image(100, 3);
    const Bytes second = image(100, 200);

    // Onto erased flash the image lands as it is.
    ASSERT_EQ(send(erase_block(APP_BASE, 1)), 12);
    ASSERT_EQ(send(write_block(APP_BASE, 100)), 12);
    EXPECT_EQ(write({first.begin(), first.begin() + 64}), 64);
    EXPECT_EQ(write({first.begin() + 64, first.end()}), 36);
    EXPECT_EQ(instrument.read_flash(APP_BASE, 100), first);
    EXPECT_EQ(instrument.read_flash(APP_BASE + 100, 1), Bytes{0xFF});

    // Programming again without an erase can only clear bits.
    ASSERT_EQ(send(write_block(APP_BASE, 100)), 12);
    EXPECT_EQ(write({second.begin(), second.begin() + 64}), 64);
    EXPECT_EQ(write({second.begin() + 64, second.end()}), 36);
    EXPECT_EQ(instrument.read_flash(APP_BASE, 100), anded(first, second));
    EXPECT_NE(anded(first, second), second);

    // Unerased old firmware shows through a write as corruption.
    const Bytes old = instrument.read_flash(APP_BASE + 0x2000, 64);
    ASSERT_EQ(send(write_block(APP_BASE + 0x2000, 64)), 12);
    EXPECT_EQ(write({first.begin(), first.begin() + 64}), 64);
    EXPECT_EQ(instrument.read_flash(APP_BASE + 0x2000, 64),
              anded(old, {first.begin(), first.begin() + 64}));
}

TEST_F(Protocol, TakesExactlyTheAnnouncedCount) {
    enter_loader();
    ASSERT_EQ(send(erase_block(APP_BASE, 1)), 12);
    const Bytes data = image(128, 9);
    ASSERT_EQ(send(write_block(APP_BASE, 100)), 12);
    EXPECT_EQ(write({data.begin(), data.begin() + 64}), 64);

    // 36 bytes are still expected: they are taken, the rest is NAKed to the time-out.
    std::int64_t before = clock.now_ms();
    EXPECT_EQ(write({data.begin() + 64, data.end()}), -ETIMEDOUT);
    EXPECT_EQ(clock.now_ms() - before, 1000);
    Bytes expected(data.begin(), data.begin() + 100);
    expected.resize(128, 0xFF);
    EXPECT_EQ(instrument.read_flash(APP_BASE, 128), expected);

    // Nothing announced: nothing taken.
    before = clock.now_ms();
    EXPECT_EQ(write({data.begin(), data.begin() + 64}), -ETIMEDOUT);
    EXPECT_EQ(clock.now_ms() - before, 1000);
    EXPECT_EQ(instrument.read_flash(APP_BASE, 128), expected);
}

struct ModeCase {
    const char* name;
    Bytes command;
    int in_firmware;
    int in_loader;
};

const ModeCase kModeCases[] = {
    {"read_memory", read_block(APP_BASE, 16), 12, 12},
    {"write_flash", write_block(APP_BASE, 16), -EPIPE, 12},
    {"erase_flash", erase_block(APP_BASE, 110), -EPIPE, 12},
    {"reset", RESET, 4, 4},
    {"restart", RESTART, 4, 4},
};

class Modes : public SimBus, public ::testing::WithParamInterface<std::tuple<ModeCase, bool>> {};

// The firmware reads memory and restarts; only the loader erases and writes flash.
TEST_P(Modes, DecideWhatIsAccepted) {
    const auto& [c, loader] = GetParam();
    if (loader) enter_loader();
    EXPECT_EQ(send(c.command), loader ? c.in_loader : c.in_firmware);
}

INSTANTIATE_TEST_SUITE_P(Protocol, Modes,
                         ::testing::Combine(::testing::ValuesIn(kModeCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_in_loader" : "_in_firmware");
                         });

TEST_F(Protocol, MalformedRequestsStallAndChangeNothing) {
    enter_loader();
    const Bytes flash = instrument.read_flash(FLASH_BASE, FLASH_SIZE);
    const Bytes erase = erase_block(APP_BASE, 1);
    const struct {
        const char* name;
        int request_type, request, value, index;
        Bytes data;
    } cases[] = {
        {"control IN", 0xC0, 3, 0x0200, 0, erase},
        {"class request", 0x21, 3, 0x0200, 0, erase},
        {"other request", 0x40, 2, 0x0200, 0, erase},
        {"other value", 0x40, 3, 0x0100, 0, erase},
        {"other index", 0x40, 3, 0x0200, 1, erase},
        {"erase in 8 bytes", 0x40, 3, 0x0200, 0, Bytes(erase.begin(), erase.begin() + 8)},
        {"erase in 4 bytes", 0x40, 3, 0x0200, 0, block(9)},
        {"reset in 12 bytes", 0x40, 3, 0x0200, 0, block(7, 0, 0)},
        {"restart in 12 bytes", 0x40, 3, 0x0200, 0, block(8, 0, 0)},
        {"read in 4 bytes", 0x40, 3, 0x0200, 0, block(2)},
        {"unknown code", 0x40, 3, 0x0200, 0, block(5, APP_BASE, 1)},
        {"code above a byte", 0x40, 3, 0x0200, 0, block(0x109, APP_BASE, 1)},
        {"nothing", 0x40, 3, 0x0200, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data = c.data;
        EXPECT_EQ(usb.control_msg(handle, c.request_type, c.request, c.value, c.index,
                                  reinterpret_cast<char*>(data.data()),
                                  static_cast<int>(data.size()), 1000),
                  -EPIPE);
        EXPECT_STREQ(usb.strerror(), "error sending control message: Broken pipe");
    }
    EXPECT_EQ(instrument.read_flash(FLASH_BASE, FLASH_SIZE), flash);
    EXPECT_EQ(instrument.resets(), 0);
    EXPECT_EQ(instrument.restarts(), 1);  // the one into the loader
    EXPECT_TRUE(instrument.present());
}

}  // namespace
}  // namespace quillon::sim::testing
