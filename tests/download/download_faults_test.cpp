// Downloads that meet a misbehaving instrument: the erase judged, packets lost on the way,
// the cable pulled, exceptions out of the library.
#include "download/download_sequence.h"

#include "download_fixture.h"
#include "link/command_channel.h"
#include "link/forwarding_usb_api.h"

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

constexpr std::uint32_t kImageLength = 1000;  // 15 full packets and one of 40 bytes
constexpr std::size_t kPackets = 16;
const std::string kEraseEcho = "90000p08\x9E" "000";
const std::string kWriteEcho = "60000p08\x18" "300";
const std::string kAnyText = "(the library's last error text)";

std::size_t index_of(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

// The lines from `first` on, as many as `n`.
std::vector<std::string> lines_from(const std::vector<std::string>& lines, const std::string& first,
                                    std::size_t n) {
    const std::size_t at = std::min(index_of(lines, first), lines.size());
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(at),
                                    lines.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(at + n, lines.size())));
}

sim::Fault erase_fault(sim::FaultKind kind, int value = 0) {
    return {.step = sim::Step::Command, .kind = kind, .times = -1,
            .command = static_cast<int>(CMD_ERASE_FLASH), .value = value};
}

TEST(EraseResult, JudgedByTheWholeBlock) {
    Bench probe;  // the library's text for a time-out, as the bus reports it
    probe.usb.add_fault(erase_fault(sim::FaultKind::Timeout));
    probe.link.open_instrument();
    send_command(probe.usb, probe.link.usb_handle(),
                 make_command(CMD_ERASE_FLASH, APP_FLASH_BASE, ERASE_COUNT), LONG_BLOCK,
                 ERASE_FLASH_TIMEOUT_MS);
    const std::string timeout_text = probe.usb.strerror();
    probe.link.close_instrument();

    const struct {
        const char* name;
        std::optional<sim::Fault> fault;
        std::vector<std::string> lines;  // from the erase echo on
    } cases[] = {
        {"12", std::nullopt, {kEraseEcho, "Erasing flash.", kWriteEcho}},
        // A positive result short of the block is a failure, yet the write follows.
        {"8", erase_fault(sim::FaultKind::Short, 8),
         {kEraseEcho, "8", kAnyText, "Erasing flash failed.", kWriteEcho}},
        {"time-out", erase_fault(sim::FaultKind::Timeout),
         {kEraseEcho, "-110", timeout_text, "Erasing flash failed.", "Reset sent."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.link.set_verbose(true);
        bench.choose(image_bytes(kImageLength));
        if (c.fault) bench.usb.add_fault(*c.fault);

        download_firmware(bench.link, bench.host);

        std::vector<std::string> lines = lines_from(bench.log.lines, kEraseEcho, c.lines.size());
        // A short transfer sets no error of its own: the text is whatever came last.
        for (std::size_t i = 0; i < std::min(lines.size(), c.lines.size()); ++i) {
            if (c.lines[i] == kAnyText) lines[i] = kAnyText;
        }
        EXPECT_TRUE(same(lines, c.lines));
    }
}

struct LostPacket {
    const char* name;
    sim::Fault fault;
    std::size_t packet;  // 0-based
    bool verbose;

    friend void PrintTo(const LostPacket& c, std::ostream* os) { *os << c.name; }
};

sim::Fault bulk_fault(sim::FaultKind kind, int occurrence, int value = 0) {
    return {.step = sim::Step::BulkWrite, .kind = kind, .first = occurrence, .value = value};
}

const LostPacket kLostPackets[] = {
    {"refused", bulk_fault(sim::FaultKind::Fail, 6), 5, false},
    {"short", bulk_fault(sim::FaultKind::Short, 6, 10), 5, false},
    {"timed out, verbose", bulk_fault(sim::FaultKind::Timeout, 6), 5, true},
    {"last packet refused", bulk_fault(sim::FaultKind::Fail, 16), 15, false},
};

class BulkWriteLost : public ::testing::TestWithParam<LostPacket> {};

TEST_P(BulkWriteLost, EveryPacketTriedAndTheFailureSaid) {
    const LostPacket& c = GetParam();
    Bench bench;
    bench.link.set_verbose(c.verbose);
    const std::vector<std::uint8_t> image = image_bytes(kImageLength);
    bench.choose(image);
    bench.usb.add_fault(c.fault);

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    EXPECT_EQ(bench.usb.calls_named("usb_bulk_write").size(), kPackets);
    std::vector<std::string> tail = {"Writing flash."};
    if (c.verbose) tail.push_back(" USB transfer complete.");
    tail.insert(tail.end(), {"Writing flash failed.", " ", "Reset sent.", "Leaving OPEN"});
    EXPECT_TRUE(same(last(bench.log.lines, tail.size()), tail));
    // A lost packet costs the program no wait of its own.
    const std::vector<int> pre_dump = c.verbose ? std::vector<int>(28, 1) : std::vector<int>{};
    EXPECT_TRUE(same(bench.clock.waits(), full_run_waits(kImageLength, pre_dump)));

    // The image arrived whole up to the lost packet, and not as a whole.
    const std::vector<std::uint8_t> flash =
        bench.instrument().read_flash(APP_FLASH_BASE, kImageLength);
    const auto lost = static_cast<std::ptrdiff_t>(c.packet * 64);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + lost, image.begin()));
    EXPECT_NE(flash, image);
}

INSTANTIATE_TEST_SUITE_P(Faults, BulkWriteLost, ::testing::ValuesIn(kLostPackets),
                         [](const auto& info) { return test_name(info.param.name); });

TEST(Unplugged, DuringTheTransferFailsTheWriteAndTheReset) {
    Bench bench;
    bench.choose(image_bytes(kImageLength));
    bench.host.on_dispatch = [&](int dispatches) {
        if (dispatches == 5) bench.instrument().unplug_at(bench.virtual_clock.now_ms());
    };

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    EXPECT_EQ(bench.usb.calls_named("usb_bulk_write").size(), kPackets);
    EXPECT_TRUE(same(last(bench.log.lines, 5), {"Writing flash.", "Writing flash failed.", " ",
                                                "Reset the instrument.", "Leaving OPEN"}));
    EXPECT_EQ(bench.link.usb_handle(), nullptr);
    EXPECT_EQ(bench.usb.open_handles(), 0);
}

sim::Fault throw_on(std::uint32_t code) {
    return {.step = sim::Step::Command, .kind = sim::FaultKind::Throw,
            .command = static_cast<int>(code)};
}

TEST(CaughtException, VerboseNamesTheCommandAndGoesOn) {
    for (std::uint32_t code : {CMD_RESTART, CMD_WRITE_FLASH}) {
        for (bool verbose : {false, true}) {
            SCOPED_TRACE(std::to_string(code) + (verbose ? " verbose" : " quiet"));
            Bench bench;
            bench.link.set_verbose(verbose);
            bench.choose(image_bytes(kImageLength));
            bench.usb.add_fault(throw_on(code));

            EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

            const std::vector<std::string>& lines = bench.log.lines;
            const std::string prefix =
                code == CMD_RESTART ? "Restart command exception: " : "Write command exception: ";
            const auto caught = std::find_if(lines.begin(), lines.end(), [&](const auto& line) {
                return line.starts_with(prefix);
            });
            if (!verbose) {
                EXPECT_EQ(caught, lines.end());
            } else {
                ASSERT_NE(caught, lines.end());
                EXPECT_GT(caught->size(), prefix.size()) << "the exception's text is missing";
                // The step after the call follows the line at once.
                const std::string next =
                    code == CMD_RESTART ? "You can release the power button." : kWriteEcho;
                ASSERT_NE(caught + 1, lines.end());
                EXPECT_EQ(*(caught + 1), next);
            }
            if (code == CMD_WRITE_FLASH) {
                EXPECT_EQ(bench.usb.calls_named("usb_bulk_write").size(), kPackets);
            }
            EXPECT_EQ(lines.back(), "Leaving OPEN");
        }
    }
}

// Forwards to the simulated bus, but the restart command raises something that is no
// std::exception.
class RestartThrowsInt final : public ForwardingUsbApi {
public:
    using ForwardingUsbApi::ForwardingUsbApi;
    int control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) override {
        if (size > 0 && bytes[0] == static_cast<char>(CMD_RESTART)) throw 42;
        return ForwardingUsbApi::control_msg(dev, requesttype, request, value, index, bytes,
                                             size, timeout);
    }
};

TEST(CaughtException, AnythingThrownIsCaught) {
    Bench bench;
    bench.choose(image_bytes(kImageLength));
    RestartThrowsInt usb(bench.usb);
    InstrumentLink link(usb, bench.clock);
    link.set_verbose(true);

    EXPECT_EQ(download_firmware(link, bench.host), DownloadEnd::Finished);

    const auto& lines = bench.log.lines;
    const std::size_t at = index_of(lines, "Restart command exception: unknown");
    ASSERT_LT(at + 1, lines.size());
    EXPECT_EQ(lines[at + 1], "You can release the power button.");
    EXPECT_EQ(lines.back(), "Leaving OPEN");
}

}  // namespace
}  // namespace quillon::testing
