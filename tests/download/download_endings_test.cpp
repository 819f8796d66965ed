// How a download ends: every way out, the line after the final reset, the window closing
// during the transfer, and the working directory.
#include "download/download_sequence.h"

#include "download/working_directory.h"
#include "download_fixture.h"
#include "link/command_channel.h"

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

sim::Fault command_fault(std::uint32_t code, sim::FaultKind kind, int value = 0) {
    return {.step = sim::Step::Command, .kind = kind, .times = -1,
            .command = static_cast<int>(code), .value = value};
}

struct Ending {
    const char* name;
    std::optional<sim::InstrumentConfig> instrument;
    std::function<void(Bench&)> arrange;
    std::vector<std::string> lines;
    std::vector<int> waits;
    std::vector<int> commands;  // codes sent, in order
    bool chooser_shown;
    ImageAllocator allocator = nullptr;  // null: the heap

    friend void PrintTo(const Ending& c, std::ostream* os) { *os << c.name; }
};

sim::InstrumentConfig gone_after_restart() {
    sim::InstrumentConfig config;
    config.returns_after_restart = false;
    return config;
}

const std::vector<std::string> kNoImage = {"Instrument opened.", "Reset sent.", "Leaving OPEN"};
const std::vector<int> kNoImageWaits = join({kOpenWaits, kFinalResetWaits});
const std::vector<int> kUntilErase =
    join({kOpenWaits, kCountdownWaits, kReleaseWaits, kReconnectWaits, kEraseWaits});
const std::vector<std::string> kUntilErasedLines =
    join({{"Instrument opened."}, kCountdownLines, {".", "Instrument opened."}});

const Ending kEndings[] = {
    {"no instrument at the start", std::nullopt, nullptr,
     join({dots(20), {"No instrument found.  Remove, then restore cable.", "Leaving OPEN"}}),
     repeat(10, kEmptyRetryWaits), {}, false},
    {"buffer not obtained", tr518(), nullptr,
     {"Instrument opened.", "Memory allocation error", "Leaving OPEN"}, kOpenWaits, {}, false,
     refuse_allocation},
    {"chooser cancelled", tr518(), [](Bench& b) { b.host.chosen_path.reset(); },
     kNoImage, kNoImageWaits, {7}, true},
    {"file not opened", tr518(),
     [](Bench& b) { b.host.chosen_path = b.files.path("missing.bin"); },
     kNoImage, kNoImageWaits, {7}, true},
    {"empty file", tr518(), [](Bench& b) { b.choose({}); }, kNoImage, kNoImageWaits, {7}, true},
    {"file too long", tr518(), [](Bench& b) { b.choose(image_bytes(262142)); },
     kNoImage, kNoImageWaits, {7}, true},
    {"fifo", tr518(), [](Bench& b) { b.host.chosen_path = b.files.make_fifo("pipe.bin"); },
     kNoImage, kNoImageWaits, {7}, true},
    {"directory", tr518(), [](Bench& b) { b.host.chosen_path = b.files.make_dir("dir.bin"); },
     kNoImage, kNoImageWaits, {7}, true},
    {"no instrument after the restart", gone_after_restart(), nullptr,
     join({{"Instrument opened."}, kCountdownLines, dots(21), {"Leaving OPEN"}}),
     join({kOpenWaits, kCountdownWaits, kReleaseWaits, {1000}, repeat(10, kEmptyRetryWaits)}),
     {8}, true},
    {"erase times out", tr518(),
     [](Bench& b) { b.usb.add_fault(command_fault(CMD_ERASE_FLASH, sim::FaultKind::Timeout)); },
     join({kUntilErasedLines, {"Erasing flash failed.", "Reset sent.", "Leaving OPEN"}}),
     join({kUntilErase, kFinalResetWaits}), {8, 9, 7}, true},
    {"erase result 0", tr518(),
     [](Bench& b) { b.usb.add_fault(command_fault(CMD_ERASE_FLASH, sim::FaultKind::Short, 0)); },
     join({kUntilErasedLines, {"Erasing flash failed.", "Reset sent.", "Leaving OPEN"}}),
     join({kUntilErase, kFinalResetWaits}), {8, 9, 7}, true},
    {"transfer done", tr518(), nullptr,
     quiet_run_lines(0), full_run_waits(100), {8, 9, 6, 7}, true},
};

class DownloadEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(DownloadEnding, LastLinesWaitsAndCommands) {
    const Ending& c = GetParam();
    Bench bench(c.instrument);
    bench.choose(image_bytes(100));
    if (c.arrange) c.arrange(bench);
    ScopedImageAllocator allocator(c.allocator);

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Finished);

    EXPECT_TRUE(same(bench.log.lines, c.lines));
    EXPECT_TRUE(same(bench.clock.waits(), c.waits));
    EXPECT_TRUE(same(bench.commands(), c.commands));
    EXPECT_EQ(bench.host.chooser_shown, c.chooser_shown ? 1 : 0);
    EXPECT_EQ(bench.link.usb_handle(), nullptr);
    EXPECT_EQ(bench.usb.open_handles(), 0);
    EXPECT_EQ(bench.usb.claimed_interfaces(), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, DownloadEnding, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return test_name(info.param.name); });

// The line after the final reset follows that command's own result, on every path.
TEST(FinalResetLine, FollowsTheResetResult) {
    const struct {
        const char* name;
        bool image;
        std::optional<sim::Fault> erase;
        std::optional<sim::Fault> reset;
        const char* line;
    } cases[] = {
        {"download, reset refused", true, std::nullopt,
         command_fault(CMD_RESET, sim::FaultKind::Fail), "Reset the instrument."},
        {"download, reset timed out", true, std::nullopt,
         command_fault(CMD_RESET, sim::FaultKind::Timeout), "Reset the instrument."},
        {"download, reset moved 2 bytes", true, std::nullopt,
         command_fault(CMD_RESET, sim::FaultKind::Short, 2), "Reset sent."},
        {"no image, reset refused", false, std::nullopt,
         command_fault(CMD_RESET, sim::FaultKind::Fail), "Reset the instrument."},
        {"erase failed, reset sent", true, command_fault(CMD_ERASE_FLASH, sim::FaultKind::Fail),
         std::nullopt, "Reset sent."},
        {"erase failed, reset refused", true,
         command_fault(CMD_ERASE_FLASH, sim::FaultKind::Fail),
         command_fault(CMD_RESET, sim::FaultKind::Fail), "Reset the instrument."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        if (c.image) bench.choose(image_bytes(100));
        if (c.erase) bench.usb.add_fault(*c.erase);
        if (c.reset) bench.usb.add_fault(*c.reset);

        download_firmware(bench.link, bench.host);

        EXPECT_TRUE(same(last(bench.log.lines, 2), {c.line, "Leaving OPEN"}));
        EXPECT_EQ(bench.commands().back(), static_cast<int>(CMD_RESET));
    }
}

TEST(WindowClosedDuringTransfer, ReturnsAtOnceLeavingTheLinkToItsOwner) {
    WorkingDirectoryGuard guard;
    const std::uint32_t n = 100000;
    Bench bench;
    bench.choose(image_bytes(n));
    const std::string chooser_dir = bench.files.make_dir("chooser");
    bench.host.on_choose = [&] { change_directory(chooser_dir); };
    // The mark for 70000 unsent bytes comes with packet 468 (counting from 0).
    bench.host.terminate_after = 470;

    EXPECT_EQ(download_firmware(bench.link, bench.host), DownloadEnd::Terminated);

    EXPECT_TRUE(same(last(bench.log.lines, 2), {"Writing flash.", "."}));
    EXPECT_EQ(bench.usb.calls_named("usb_bulk_write").size(), 470u);
    EXPECT_TRUE(same(bench.commands(), {8, 9, 6}));
    // No wait after the packet that saw the window close, and nothing after it.
    EXPECT_TRUE(same(bench.clock.waits(),
                     join({kOpenWaits, kCountdownWaits, kReleaseWaits, kReconnectWaits,
                           kEraseWaits, kWriteCommandWaits, std::vector<int>(469, 1)})));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), chooser_dir));
    EXPECT_NE(bench.link.usb_handle(), nullptr);
    EXPECT_EQ(bench.usb.open_handles(), 1);

    bench.link.close_instrument();
    EXPECT_EQ(bench.usb.open_handles(), 0);
    EXPECT_EQ(bench.usb.claimed_interfaces(), 0);
}

TEST(WorkingDirectory, PutBackAfterTheChooserMovedIt) {
    WorkingDirectoryGuard guard;
    Bench bench;
    bench.choose(image_bytes(10));
    const std::string start = bench.files.make_dir("start");
    const std::string chooser_dir = bench.files.make_dir("chooser");
    ASSERT_TRUE(change_directory(start));
    bench.host.on_choose = [&] { change_directory(chooser_dir); };

    download_firmware(bench.link, bench.host);

    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), start));
    EXPECT_EQ(bench.log.lines.back(), "Leaving OPEN");
}

TEST(WorkingDirectory, LeftAloneWhenItCouldNotBeRead) {
    WorkingDirectoryGuard guard;
    Bench bench;
    bench.choose(image_bytes(10));
    const std::string removed = bench.files.make_dir("removed");
    const std::string chooser_dir = bench.files.make_dir("chooser");
    ASSERT_TRUE(change_directory(removed));
    std::filesystem::remove(removed);
    ASSERT_EQ(current_directory(), std::nullopt);
    bench.host.on_choose = [&] { change_directory(chooser_dir); };

    download_firmware(bench.link, bench.host);

    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), chooser_dir));
    EXPECT_EQ(bench.log.lines.back(), "Leaving OPEN");
}

TEST(WorkingDirectory, ReadsPathsLongerThanTheOldLimit) {
    WorkingDirectoryGuard guard;
    TempDir files;
    std::filesystem::path deep = files.path("");
    while (deep.string().size() <= 600) deep /= std::string(50, 'd');
    std::filesystem::create_directories(deep);
    ASSERT_TRUE(change_directory(deep.string()));

    EXPECT_EQ(current_directory(), std::filesystem::canonical(deep).string());
}

}  // namespace
}  // namespace quillon::testing
