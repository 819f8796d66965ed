// The production code on the real libusb-0.1 and the real clock, against the simulated
// instrument as usbfs-bridge serves it through umockdev: nothing of the stack is replaced
// but the kernel and the device.
#include "e2e/bridge_run.h"
#include "support/line_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace quillon::testing {
namespace {

constexpr std::uint32_t IMAGE_LENGTH = 262141;     // the largest image a download takes
constexpr std::size_t ERASED_LENGTH = 110 * 4096;  // what the erase command clears

std::vector<std::string> repeated(const std::string& line, int times) {
    return std::vector<std::string>(static_cast<std::size_t>(times), line);
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ResetCase {
    const char* name;
    std::vector<std::string> bridge;
    std::vector<std::string> lines;
    friend void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }
};

class ResetThroughTheWindow : public ::testing::TestWithParam<ResetCase> {};

TEST_P(ResetThroughTheWindow, LogsEachStep) {
    const BridgeRun run = run_bridge(GetParam().bridge, {"reset"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_TRUE(SameLines(GetParam().lines, run.lines));
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ResetThroughTheWindow,
    ::testing::Values(
        ResetCase{"Tr518", {"--product", "TR-518"},
                  {"Instrument opened.", "Reset sent.", "Instrument closed."}},
        ResetCase{"Tr760", {"--product", "TR-760"},
                  {"TR-760 opened.", "Reset sent.", "Instrument closed."}},
        // The transfer runs out its 1000 ms: the closing line is the only sign.
        ResetCase{"ResetTimesOut", {"--fault", "command:timeout:command=7"},
                  {"Instrument opened.", "Reset sent."}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ModelCase {
    const char* name;
    const char* product;
    long result;
    const char* line;
    friend void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }
};

class ModelCheck : public ::testing::TestWithParam<ModelCase> {};

// One attempt is enough: a refused model would cost 100 s of retries in the commands.
TEST_P(ModelCheck, ReadsTheProductStringThroughTheLibrary) {
    const BridgeRun run = run_bridge({"--product", GetParam().product}, {"open"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("result"), GetParam().result);
    EXPECT_TRUE(SameLines({GetParam().line}, run.lines));
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ModelCheck,
    ::testing::Values(ModelCase{"WrongModel", "TR-999", 1, "Wrong Instrument."},
                      // usb_get_string_simple into 7 bytes keeps the first six characters.
                      ModelCase{"LongerName", "TR-518 Rev B", 99, "Instrument opened."},
                      ModelCase{"OtherCase", "tr-760", 1, "Wrong Instrument."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, EmptyBusShowsOnlyTheRootHub) {
    const BridgeRun run = run_bridge({"--no-instrument"}, {"open", "verbose"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("result"), 0);
    EXPECT_TRUE(SameLines({"Begin USB transfer.", "Begin USB transfer.", "in usb", "in usb dev",
                           ".", ":"},
                          run.lines));
}

TEST(EndToEnd, TwoInstrumentsAreBothOpenedAndTheLastOneKept) {
    const BridgeRun run = run_bridge({"--product", "TR-518", "--second", "TR-760"}, {"open"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("result"), 99);
    // The walk follows libusb's device list, whose order is the library's business.
    std::vector<std::string> lines = run.lines;
    std::sort(lines.begin(), lines.end());
    EXPECT_TRUE(SameLines({"Instrument opened.", "TR-760 opened."}, lines));
}

TEST(EndToEnd, InstrumentPluggedInLaterIsFoundByTheNextScan) {
    // A wide margin: the client must make its first scan before the plug-in.
    const BridgeRun run = run_bridge({"--appear-after", "1500"}, {"open-later", "2000"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("first"), 0);
    EXPECT_EQ(run.number("second"), 99);
}

// Back after 300 ms: well inside the client's 1000 ms, however busy the machine.
TEST(EndToEnd, RestartReenumeratesUnderAnotherDeviceNumber) {
    const BridgeRun run = run_bridge({"--reenumerate-ms", "300"}, {"restart"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("first"), 99);
    EXPECT_EQ(run.number("restart"), 4);
    EXPECT_EQ(run.number("second"), 99);
    EXPECT_NE(run.number("devnum_after"), run.number("devnum_before"));
    EXPECT_TRUE(SameLines({"Instrument opened.", "Instrument opened."}, run.lines));
}

TEST(EndToEnd, InstrumentThatDoesNotReturnIsGoneAfterTheRestart) {
    const BridgeRun run = run_bridge({"--no-return"}, {"restart"});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("restart"), 4);
    EXPECT_EQ(run.number("second"), 0);
    EXPECT_TRUE(SameLines({"Instrument opened."}, run.lines));
}

struct ReadBackCase {
    const char* name;
    std::vector<std::string> bridge;
    int length;
    std::vector<std::string> lines;  // quiet mode, after the open's line
    friend void PrintTo(const ReadBackCase& c, std::ostream* os) { *os << c.name; }
};

class ReadBack : public ::testing::TestWithParam<ReadBackCase> {};

TEST_P(ReadBack, ReadsTheFlashOrLogsEachFailedAttempt) {
    ScratchDir scratch;
    const std::string dump = scratch.path("flash");
    std::vector<std::string> bridge = GetParam().bridge;
    bridge.insert(bridge.end(), {"--dump-flash", dump});
    const BridgeRun run =
        run_bridge(bridge, {"read-back", "0x08004000", std::to_string(GetParam().length)});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("result"), 99);
    EXPECT_TRUE(SameLines(joined({"Instrument opened."}, GetParam().lines), run.lines));
    if (GetParam().lines.empty()) {
        // What came in on the bulk IN endpoint is what the flash holds.
        const auto flash = read_file(dump);
        ASSERT_GE(flash.size(), static_cast<std::size_t>(GetParam().length));
        std::string expected;
        char part[3];
        for (int i = 0; i < GetParam().length; ++i) {
            std::snprintf(part, sizeof part, "%02x", flash[static_cast<std::size_t>(i)]);
            expected += part;
        }
        EXPECT_EQ(run.facts.at("bytes"), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ReadBack,
    ::testing::Values(
        ReadBackCase{"FullSpeed", {"--packet", "64"}, 300, {}},
        ReadBackCase{"HighSpeed", {"--packet", "512"}, 256, {}},
        // libusb-0.1 gives up on its own clock after 100 ms and sets no error text.
        ReadBackCase{"BulkReadTimesOut",
                     {"--fault", "bulk-read:timeout:times=forever"},
                     64,
                     joined(repeated("No error", 9), {"-110"})},
        ReadBackCase{"BulkReadRefused",
                     {"--fault", "bulk-read:fail:times=forever"},
                     64,
                     joined(repeated("error submitting URB: Input/output error", 9), {"-5"})},
        // Whole on the third attempt: quiet mode shows only the two failures.
        ReadBackCase{"BulkReadRecovers",
                     {"--fault", "bulk-read:timeout:times=2"},
                     64,
                     repeated("No error", 2)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, DownloadThroughTheWindowWritesTheImageIntoFlash) {
    ScratchDir scratch;
    std::vector<std::uint8_t> image(IMAGE_LENGTH);
    for (std::uint32_t i = 0; i < IMAGE_LENGTH; ++i) {
        image[i] = static_cast<std::uint8_t>((i * 31 + 7) ^ (i >> 9));
    }
    const std::string image_path = scratch.path("firmware.bin");
    std::ofstream(image_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    const std::string dump = scratch.path("flash");

    // The reconnect comes 1200 ms after the restart; a late instrument would cost 10 s.
    const BridgeRun run = run_bridge({"--dump-flash", dump, "--reenumerate-ms", "300"},
                                     {"download", image_path});
    SKIP_WITHOUT_UMOCKDEV(run);
    EXPECT_EQ(run.number("choosers"), 1);
    EXPECT_TRUE(SameLines({"Instrument opened.", "HOLD DOWN POWER BUTTON NOW!!!", "3", "2", "1",
                           "You can release the power button.", ".", "Instrument opened.",
                           "Erasing flash.", "Writing flash.", ".", ".", ".", ".", ".", ".", " ",
                           "Reset sent.", "Leaving OPEN"},
                          run.lines));

    const auto flash = read_file(dump);
    ASSERT_GE(flash.size(), ERASED_LENGTH);
    const auto first_difference =
        std::mismatch(image.begin(), image.end(), flash.begin()).first - image.begin();
    EXPECT_EQ(first_difference, static_cast<long>(IMAGE_LENGTH))
        << "the flash differs from the image at offset " << first_difference;
    EXPECT_TRUE(std::all_of(flash.begin() + IMAGE_LENGTH, flash.begin() + ERASED_LENGTH,
                            [](std::uint8_t b) { return b == 0xFF; }))
        << "the erased flash after the image is not blank";

    // The figure: how close the real stack comes to the waits the sequence makes itself.
    const double wall_s = static_cast<double>(run.number("wall_us")) / 1e6;
    const double waits_s = static_cast<double>(run.number("waits_ms")) / 1e3;
    char figure[128];
    std::snprintf(figure, sizeof figure,
                  "download %u bytes: wall %.2f s, waits %.2f s, ratio %.3f", IMAGE_LENGTH,
                  wall_s, waits_s, waits_s > 0 ? wall_s / waits_s : 0.0);
    std::printf("%s\n", figure);
    RecordProperty("figure", figure);
}

}  // namespace
}  // namespace quillon::testing
