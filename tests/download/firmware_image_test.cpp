#include "download/firmware_image.h"

#include "download_fixture.h"

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

class FirmwareImageTest : public ::testing::Test {
protected:
    RecordingLog log;
    FakeHost host{log};
    TempDir files;
    FirmwareImage image;
};

// A file of `n` bytes with runs of 0x00 and 0xFF at its start, middle and end.
std::vector<std::uint8_t> file_bytes(std::size_t n) {
    std::vector<std::uint8_t> bytes = image_bytes(n);
    for (std::size_t at : {std::size_t{0}, n / 2, n >= 2 ? n - 2 : 0}) {
        if (at < n) bytes[at] = 0x00;
        if (at + 1 < n) bytes[at + 1] = 0xFF;
    }
    return bytes;
}

TEST_F(FirmwareImageTest, AcceptsOneToLimitBytesAndReadsAtMostTheLimit) {
    struct Case {
        std::size_t file_length;
        bool accepted;
    };
    const Case cases[] = {
        {0, false},       {1, true},        {2, true},       {3, true},
        {262141, true},   {262142, false},  {262143, false}, {300000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("file of " + std::to_string(c.file_length) + " bytes");
        const std::vector<std::uint8_t> bytes = file_bytes(c.file_length);
        host.chosen_path = files.write("image.bin", bytes);
        ASSERT_TRUE(allocate_image(image));

        EXPECT_EQ(load_image(image, host), c.accepted);

        if (c.accepted) {
            EXPECT_EQ(image.length, c.file_length);
            EXPECT_TRUE(same(std::vector<std::uint8_t>(image.bytes.get(),
                                                       image.bytes.get() + image.length),
                             bytes));
        }
        if (c.file_length >= IMAGE_READ_LIMIT) {
            // A long file is read as far as the limit, not beyond.
            EXPECT_TRUE(same(std::vector<std::uint8_t>(image.bytes.get(),
                                                       image.bytes.get() + IMAGE_READ_LIMIT),
                             std::vector<std::uint8_t>(bytes.begin(),
                                                       bytes.begin() + IMAGE_READ_LIMIT)));
        }
        free_image(image);
        EXPECT_EQ(image.bytes, nullptr);
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(FirmwareImageTest, OneByteOfEndOfFileValueIsAnImage) {
    host.chosen_path = files.write("ff.bin", {0xFF});
    ASSERT_TRUE(allocate_image(image));
    ASSERT_TRUE(load_image(image, host));
    EXPECT_EQ(image.length, 1u);
    EXPECT_EQ(image.bytes[0], 0xFF);
}

TEST_F(FirmwareImageTest, ReadsAnyNameTheUserTyped) {
    host.chosen_path = files.write("firmware.dat", {1, 2, 3});
    ASSERT_TRUE(allocate_image(image));
    ASSERT_TRUE(load_image(image, host));
    EXPECT_EQ(image.length, 3u);
}

TEST_F(FirmwareImageTest, RefusesWhatIsNoReadableRegularFileWithoutALine) {
    const struct {
        const char* name;
        std::optional<std::string> path;
    } cases[] = {
        {"chooser cancelled", std::nullopt},
        {"missing file", files.path("missing.bin")},
        // Opening a FIFO for reading would wait for a writer for ever.
        {"fifo", files.make_fifo("fifo.bin")},
        {"directory", files.make_dir("folder.bin")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.chosen_path = c.path;
        ASSERT_TRUE(allocate_image(image));
        EXPECT_FALSE(load_image(image, host));
    }
    EXPECT_EQ(host.chooser_shown, 4);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(FirmwareImageTest, RefusedBufferIsReportedOnce) {
    ScopedImageAllocator refuse(refuse_allocation);
    EXPECT_FALSE(allocate_image(image));
    EXPECT_EQ(image.bytes, nullptr);
    EXPECT_TRUE(same(log.lines, {"Memory allocation error"}));
}

}  // namespace
}  // namespace quillon::testing
