// Downloads that reach the instrument's flash: the full runs, the progress marks and the
// packets that carry the image.
#include "download/download_sequence.h"

#include "download_fixture.h"
#include "link/command_channel.h"

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

constexpr std::uint32_t kThresholds[] = {110000, 100000, 70000, 50000, 20000, 10000};

// The packet (0-based) after which no more than T bytes are left unsent, for each T below n.
std::vector<int> packets_with_marks(std::uint32_t n) {
    std::vector<int> packets;
    for (std::uint32_t t : kThresholds) {
        if (n > t) packets.push_back(static_cast<int>((n - t + 63) / 64) - 1);
    }
    return packets;
}

std::vector<std::string> hex_rows(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::vector<std::string> rows;
    for (std::size_t row = 0; row * 32 < bytes.size(); ++row) {
        std::string text;
        for (std::size_t i = row * 32; i < row * 32 + 32; ++i) {
            text += {digits[bytes[i] >> 4], digits[bytes[i] & 0x0F], ','};
        }
        rows.push_back(text + "\\");
    }
    return rows;
}

// The lines one verbose open of a single TR-518 writes, from a bench of its own.
std::vector<std::string> verbose_open_lines() {
    Bench twin;
    twin.link.set_verbose(true);
    twin.link.open_instrument();
    twin.link.close_instrument();
    return twin.log.lines;
}

std::vector<std::uint8_t> flash_image(Bench& bench, std::size_t n) {
    return bench.instrument().read_flash(APP_FLASH_BASE, static_cast<std::uint32_t>(n));
}

// Leaves junk in the flash the download is about to use: writing it unerased shows.
void dirty_flash(Bench& bench, std::size_t n) {
    bench.instrument().fill_flash(APP_FLASH_BASE, std::vector<std::uint8_t>(n + 64, 0x5A));
}

TEST(DownloadFullRun, QuietLinesWaitsRepaintsAndFlash) {
    const std::uint32_t n = 100000;
    Bench bench;
    const std::vector<std::uint8_t> image = image_bytes(n);
    bench.choose(image);
    dirty_flash(bench, n);
    int restarts_at_beep = -1;
    bench.host.on_beep = [&] { restarts_at_beep = bench.instrument().restarts(); };

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    EXPECT_TRUE(same(bench.log.lines, quiet_run_lines(4)));
    EXPECT_TRUE(same(bench.clock.waits(), full_run_waits(n)));
    // Every line the user must see before a wait is painted at once, then every packet.
    std::vector<std::size_t> repaints = {2, 3, 4, 5, 6, 7, 9, 10};
    std::size_t marks = 0;
    const std::vector<int> mark_packets = packets_with_marks(n);
    for (int packet = 0; packet < static_cast<int>(n / 64); ++packet) {
        marks += std::count(mark_packets.begin(), mark_packets.end(), packet);
        repaints.push_back(10 + marks);
    }
    EXPECT_TRUE(same(bench.log.repainted_at, repaints));
    EXPECT_TRUE(same(bench.host.beeps_at, {5}));
    EXPECT_EQ(restarts_at_beep, 1);
    EXPECT_EQ(bench.host.status_shown, 1);
    EXPECT_EQ(bench.host.chooser_shown, 1);
    EXPECT_EQ(bench.host.dispatches, static_cast<int>(n / 64));
    EXPECT_TRUE(same(bench.commands(), {8, 9, 6, 7}));
    EXPECT_TRUE(same(flash_image(bench, n), image));
    EXPECT_EQ(bench.instrument().resets(), 1);
    EXPECT_EQ(bench.link.usb_handle(), nullptr);
    EXPECT_EQ(bench.usb.open_handles(), 0);
}

TEST(DownloadFullRun, VerboseAddsPreDumpEchoesAndCompletion) {
    const std::uint32_t n = 1000;  // 0x3E8: the count bytes E8 03 echo as 0x18 and '3'
    const std::vector<std::string> open_lines = verbose_open_lines();
    Bench bench;
    bench.link.set_verbose(true);
    bench.choose(image_bytes(n));
    std::vector<std::uint8_t> old_flash(768);
    for (std::size_t i = 0; i < old_flash.size(); ++i) {
        old_flash[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    bench.instrument().fill_flash(APP_FLASH_BASE, old_flash);

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    auto read_back = [&](const char* echo, std::size_t offset) {
        std::vector<std::string> lines = {"get_usb_md", echo};
        for (int chunk = 0; chunk < 4; ++chunk) {
            lines.insert(lines.end(), {"correct return", "reading 64"});
        }
        const auto first = old_flash.begin() + static_cast<std::ptrdiff_t>(offset);
        return join({lines, hex_rows(std::vector<std::uint8_t>(first, first + 256))});
    };
    const std::string write_echo = "60000p08\x18" "300";
    const std::vector<std::string> expected = join({
        open_lines,
        read_back("20000p080100", 0),
        read_back("20000q080100", 256),
        read_back("20000r080100", 512),
        kCountdownLines,
        {"."},
        open_lines,
        {"90000p08\x9E" "000", "Erasing flash."},
        {write_echo, write_echo, "Writing flash.", " USB transfer complete.", " ",
         "Reset sent.", "Leaving OPEN"},
    });
    EXPECT_TRUE(same(bench.log.lines, expected));

    // A read-back: 1 ms after the command, 1 ms either side of each of its four reads.
    const std::vector<int> read_back_waits(9, 1);
    const std::vector<int> pre_dump = join({read_back_waits, {1}, read_back_waits,
                                            read_back_waits});
    EXPECT_TRUE(same(bench.clock.waits(), full_run_waits(n, pre_dump)));
}

class ProgressMarks : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ProgressMarks, OneMarkPerThresholdAtItsPacket) {
    const std::uint32_t n = GetParam();
    Bench bench;
    bench.choose(image_bytes(n));

    download_firmware(bench.link, bench.host);

    const std::vector<int> expected = packets_with_marks(n);
    EXPECT_TRUE(same(bench.log.lines, quiet_run_lines(static_cast<int>(expected.size()))));
    // The pane is repainted after every packet; a mark shows as one more line at that repaint.
    const auto& repaints = bench.log.repainted_at;
    const auto writing = std::find(repaints.begin(), repaints.end(), std::size_t{10});
    ASSERT_NE(writing, repaints.end());
    std::vector<int> actual;
    for (auto it = writing + 1; it != repaints.end(); ++it) {
        if (*it > *(it - 1)) actual.push_back(static_cast<int>(it - writing - 1));
    }
    EXPECT_TRUE(same(actual, expected));
}

INSTANTIATE_TEST_SUITE_P(ImageLengths, ProgressMarks,
                         ::testing::Values(10000u, 10001u, 60000u, 100000u, 262141u));

class FlashWritten : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(FlashWritten, EqualsTheFileByteForByte) {
    const std::uint32_t n = GetParam();
    Bench bench;
    const std::vector<std::uint8_t> image = image_bytes(n);
    bench.choose(image);
    dirty_flash(bench, n);

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    EXPECT_TRUE(same(flash_image(bench, n), image));
    // Full packets of 64 bytes, then one with the rest; events only after full packets.
    std::vector<long> sizes(n / 64, 64);
    if (n % 64) sizes.push_back(n % 64);
    std::vector<long> actual;
    for (const sim::Call& call : bench.usb.calls_named("usb_bulk_write")) {
        actual.push_back(static_cast<long>(call.data.size()));
    }
    EXPECT_TRUE(same(actual, sizes));
    EXPECT_EQ(bench.host.dispatches, static_cast<int>(n / 64));

    const std::vector<sim::Call> commands = bench.usb.calls_named("usb_control_msg");
    ASSERT_EQ(commands.size(), 4u);
    const std::vector<std::uint8_t> write_block = {
        0x06, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08,
        static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
        static_cast<std::uint8_t>(n >> 16), 0x00};
    EXPECT_TRUE(same(commands[2].data, write_block));
    EXPECT_TRUE(same(bench.log.lines, quiet_run_lines(static_cast<int>(
                                          packets_with_marks(n).size()))));
}

INSTANTIATE_TEST_SUITE_P(ImageLengths, FlashWritten,
                         ::testing::Values(1u, 63u, 64u, 65u, 10001u, 262141u));

}  // namespace
}  // namespace quillon::testing
