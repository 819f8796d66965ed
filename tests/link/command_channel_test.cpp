#include "link/command_channel.h"

#include "link/instrument_link.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/recording_log.h"
#include "support/sim_rig.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::testing {
namespace {

// An open TR-518 on a simulated bus, with a clean log, call record and clock.
struct OpenChannel : SimRig {
    explicit OpenChannel(std::uint16_t max_packet = 64, bool verbose = false) {
        sim::InstrumentConfig config;
        config.shape.first_endpoint_max_packet = max_packet;
        usb.add_instrument(bus, config);
        link.open_instrument();
        link.set_verbose(verbose);
        usb.clear_calls();
        log.clear();
        clock.clear();
    }

    int bus = usb.add_bus();
};

using testing::hex;

std::string hex(const CommandBlock& block, int length) {
    return hex(Bytes(block.bytes.begin(), block.bytes.begin() + length));
}

TEST(CommandBlock, EveryBlockOnTheWire) {
    const struct {
        const char* name;
        CommandBlock block;
        int length;
        int timeout_ms;
        const char* wire;
    } cases[] = {
        {"read 256 bytes at the base", make_command(CMD_READ_MEMORY, APP_FLASH_BASE, 256),
         LONG_BLOCK, READ_MEMORY_TIMEOUT_MS, "02 00 00 00 00 40 00 08 00 01 00 00"},
        {"write 262141 bytes", make_command(CMD_WRITE_FLASH, APP_FLASH_BASE, 262141), LONG_BLOCK,
         WRITE_FLASH_TIMEOUT_MS, "06 00 00 00 00 40 00 08 FD FF 03 00"},
        {"write count in full 32 bits", make_command(CMD_WRITE_FLASH, APP_FLASH_BASE, 0x12345678),
         LONG_BLOCK, WRITE_FLASH_TIMEOUT_MS, "06 00 00 00 00 40 00 08 78 56 34 12"},
        {"reset", make_command(CMD_RESET), SHORT_BLOCK, RESET_TIMEOUT_MS, "07 00 00 00"},
        {"restart", make_command(CMD_RESTART), SHORT_BLOCK, RESTART_TIMEOUT_MS, "08 00 00 00"},
        {"erase", make_command(CMD_ERASE_FLASH, APP_FLASH_BASE, ERASE_COUNT), LONG_BLOCK,
         ERASE_FLASH_TIMEOUT_MS, "09 00 00 00 00 40 00 08 6E 00 00 00"},
        {"erase count cut to 12 bits", make_command(CMD_ERASE_FLASH, APP_FLASH_BASE, 0xABCDEF6E),
         LONG_BLOCK, ERASE_FLASH_TIMEOUT_MS, "09 00 00 00 00 40 00 08 6E 0F 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenChannel channel;
        EXPECT_EQ(hex(c.block, LONG_BLOCK).substr(0, std::string(c.wire).size()), c.wire);

        send_command(channel.usb, channel.link.usb_handle(), c.block, c.length, c.timeout_ms);

        const std::vector<sim::Call> sent = channel.usb.calls_named("usb_control_msg");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(hex(sent[0].data), c.wire);
        const std::vector<long> args = {0x40, 3, 0x0200, 0, c.length, c.timeout_ms};
        EXPECT_EQ(sent[0].args, args);
        EXPECT_TRUE(channel.log.lines.empty());
        EXPECT_TRUE(channel.clock.waits().empty());
    }
}

TEST(CommandBlock, SendReturnsTheLibraryResultUnchanged) {
    OpenChannel channel;
    channel.usb.add_fault({.step = sim::Step::Command, .kind = sim::FaultKind::Short,
                           .value = 5});
    EXPECT_EQ(send_command(channel.usb, channel.link.usb_handle(),
                           make_command(CMD_READ_MEMORY, APP_FLASH_BASE, 4), LONG_BLOCK, 100),
              5);
    channel.usb.add_fault({.step = sim::Step::Command, .kind = sim::FaultKind::Fail,
                           .first = 2});
    EXPECT_EQ(send_command(channel.usb, channel.link.usb_handle(), make_command(CMD_RESET),
                           SHORT_BLOCK, 1000),
              -EPIPE);
    EXPECT_EQ(channel.usb.calls_named("usb_control_msg").size(), 2u);
    EXPECT_TRUE(channel.log.lines.empty());
}

TEST(EchoBlock, EachBytePlusDigitZeroUntilAZeroCharacter) {
    const struct {
        const char* name;
        CommandBlock block;
        std::string echo;
    } cases[] = {
        {"read", make_command(CMD_READ_MEMORY, APP_FLASH_BASE, 256), "20000p080100"},
        {"erase", make_command(CMD_ERASE_FLASH, APP_FLASH_BASE, ERASE_COUNT),
         "90000p08\x9E" "000"},
        // 2000 is 0x07D0: its low byte plus '0' is the terminator.
        {"write 2000", make_command(CMD_WRITE_FLASH, APP_FLASH_BASE, 2000), "60000p08"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLog log;
        sim::VirtualClock clock;
        sim::SimUsb usb{clock};
        InstrumentLink link{usb, clock};

        echo_block(link, c.block);
        EXPECT_TRUE(log.lines.empty()) << "quiet mode echoes nothing";

        link.set_verbose(true);
        echo_block(link, c.block);
        EXPECT_EQ(log.lines, std::vector<std::string>{c.echo});
    }
}

// --- reading instrument memory

constexpr const char* kError = "(error text)";  // stands for the library's text

struct ReadCase {
    const char* name;
    std::uint16_t max_packet;
    int length;
    bool verbose;
    std::vector<sim::Fault> faults;
    std::vector<std::string> lines;
    std::vector<long> read_sizes;  // the size asked by each bulk read, in order
    bool buffer_is_memory = true;

    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<std::string> chunks(int n, const char* size_line) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.insert(lines.end(), {"correct return", size_line});
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<long> operator+(std::vector<long> a, const std::vector<long>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

sim::Fault command_fault(sim::FaultKind kind, int value = 0) {
    return {.step = sim::Step::Command, .kind = kind, .value = value};
}
sim::Fault read_fault(sim::FaultKind kind, int first, int times, int value = 0) {
    return {.step = sim::Step::BulkRead, .kind = kind, .first = first, .times = times,
            .value = value};
}

const std::string kReadEcho = "20000p080100";  // 256 bytes at the base
const std::vector<long> kFour64 = {64, 64, 64, 64};

// Reads that the instrument never answers: each of the nine attempts times out.
std::vector<std::string> unanswered(int n, bool verbose) {
    std::vector<std::string> lines;
    for (int chunk = 0; chunk < n; ++chunk) {
        for (int attempt = 1; attempt <= 9; ++attempt) {
            lines.push_back(kError);
            if (verbose || attempt == 9) lines.push_back(std::to_string(-ETIMEDOUT));
        }
        if (verbose) lines.push_back("reading 64");
    }
    return lines;
}

const ReadCase kReadCases[] = {
    {"64-byte packets", 64, 256, true, {},
     std::vector<std::string>{"get_usb_md", kReadEcho} + chunks(4, "reading 64"), kFour64},
    {"512-byte packets", 512, 256, true, {},
     {"get_usb_md", "USB2.0", kReadEcho, "correct return", "reading to end"}, {256}},
    {"300 bytes", 64, 300, true, {},
     std::vector<std::string>{"get_usb_md", "20000p08\\100"} + chunks(4, "reading 64") +
         chunks(1, "reading to end"),
     kFour64 + std::vector<long>{44}},
    // The instrument did not take a short block; the reads are made all the same.
    {"command takes 10 bytes", 64, 256, true, {command_fault(sim::FaultKind::Short, 10)},
     std::vector<std::string>{"get_usb_md", kReadEcho} + unanswered(4, true),
     std::vector<long>(36, 64), false},
    {"command takes nothing", 64, 256, true, {command_fault(sim::FaultKind::Short, 0)},
     std::vector<std::string>{"get_usb_md", kReadEcho, "Returned smaller block.", "wanted",
                              "12", "got", "0"} +
         unanswered(4, true),
     std::vector<long>(36, 64), false},
    {"command fails, quiet", 64, 256, false, {command_fault(sim::FaultKind::Fail)},
     std::vector<std::string>{kError} + unanswered(4, false), std::vector<long>(36, 64), false},
    {"chunk never whole", 64, 256, true, {read_fault(sim::FaultKind::Timeout, 2, 9)},
     std::vector<std::string>{"get_usb_md", kReadEcho} + chunks(1, "reading 64") +
         unanswered(1, true) + chunks(2, "reading 64"),
     std::vector<long>(12, 64), false},
    {"chunk never whole, quiet", 64, 256, false, {read_fault(sim::FaultKind::Timeout, 2, 9)},
     unanswered(1, false), std::vector<long>(12, 64), false},
    {"whole only at the ninth attempt, quiet", 64, 256, false,
     {read_fault(sim::FaultKind::Fail, 1, 8)},
     std::vector<std::string>(8, kError) + std::vector<std::string>{"64"},
     std::vector<long>(12, 64)},
    {"whole at once, quiet", 64, 256, false, {}, {}, kFour64},
    {"one failed read, quiet", 64, 256, false, {read_fault(sim::FaultKind::Fail, 3, 1)},
     {kError}, std::vector<long>(5, 64)},
    // A packet size of 0 would never end the loop; full-speed packets are read instead.
    {"packet size 0", 0, 128, true, {},
     std::vector<std::string>{"get_usb_md", "20000p08\xB0" "000"} + chunks(2, "reading 64"),
     {64, 64}},
};

class GetUsbMdTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(GetUsbMdTable, LinesReadsAndWaits) {
    const ReadCase& c = GetParam();
    OpenChannel channel(c.max_packet, c.verbose);
    for (const sim::Fault& fault : c.faults) channel.usb.add_fault(fault);
    Bytes memory(static_cast<std::size_t>(c.length));
    for (std::size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<std::uint8_t>(i * 5 + 1);
    }
    channel.usb.instrument().fill_flash(APP_FLASH_BASE, memory);
    Bytes buffer(static_cast<std::size_t>(c.length), 0);

    get_usb_md(channel.link, channel.link.usb_handle(), buffer.data(), APP_FLASH_BASE, c.length);

    std::vector<std::string> lines = channel.log.lines;
    std::vector<std::string> expected = c.lines;
    for (std::size_t i = 0; i < expected.size() && i < lines.size(); ++i) {
        // The library's text is checked to be one, not word for word.
        if (expected[i] == kError && lines[i].find(':') != std::string::npos) lines[i] = kError;
    }
    EXPECT_EQ(lines, expected);

    std::vector<long> sizes;
    for (const sim::Call& call : channel.usb.calls_named("usb_bulk_read")) {
        EXPECT_EQ(call.args[0], BULK_IN_ENDPOINT);
        EXPECT_EQ(call.args[2], BULK_IN_TIMEOUT_MS);
        sizes.push_back(call.args[1]);
    }
    EXPECT_EQ(sizes, c.read_sizes);
    const std::vector<sim::Call> commands = channel.usb.calls_named("usb_control_msg");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].args.back(), READ_MEMORY_TIMEOUT_MS);
    // 1 ms after the command, 1 ms either side of every read.
    EXPECT_EQ(channel.clock.waits(), std::vector<int>(1 + 2 * sizes.size(), 1));
    if (c.buffer_is_memory) {
        EXPECT_EQ(hex(buffer), hex(memory));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GetUsbMdTable, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

TEST(GetUsbMd, ChunkThatNeverCameWholeLeavesItsPlaceAndGoesOn) {
    OpenChannel channel;
    // The second chunk never comes: the instrument sends nothing at all nine times.
    channel.usb.add_fault({.step = sim::Step::BulkRead, .kind = sim::FaultKind::Timeout,
                           .first = 2, .times = 9});
    Bytes buffer(256, 0xAA);

    get_usb_md(channel.link, channel.link.usb_handle(), buffer.data(), APP_FLASH_BASE, 256);

    const Bytes memory = channel.usb.instrument().read_flash(APP_FLASH_BASE, 256);
    EXPECT_EQ(hex(Bytes(buffer.begin(), buffer.begin() + 64)),
              hex(Bytes(memory.begin(), memory.begin() + 64)));
    EXPECT_EQ(hex(Bytes(buffer.begin() + 64, buffer.begin() + 128)), hex(Bytes(64, 0xAA)));
    // The instrument still sends from where it stopped, into the following place.
    EXPECT_EQ(hex(Bytes(buffer.begin() + 128, buffer.begin() + 192)),
              hex(Bytes(memory.begin() + 64, memory.begin() + 128)));
    EXPECT_EQ(channel.usb.calls_named("usb_bulk_read").size(), 12u);
}

TEST(GetUsbMd, NullHandleReturnsAfterItsLine) {
    for (bool verbose : {false, true}) {
        OpenChannel channel(64, verbose);
        unsigned char buffer[16] = {};

        get_usb_md(channel.link, nullptr, buffer, APP_FLASH_BASE, sizeof buffer);

        const std::vector<std::string> expected =
            verbose ? std::vector<std::string>{"get_usb_md", "USB already closed"}
                    : std::vector<std::string>{};
        EXPECT_EQ(channel.log.lines, expected);
        EXPECT_TRUE(channel.usb.calls_named("usb_control_msg").empty());
        EXPECT_TRUE(channel.usb.calls_named("usb_bulk_read").empty());
        EXPECT_TRUE(channel.clock.waits().empty());
    }
}

}  // namespace
}  // namespace quillon::testing
