#include "link/progress_log.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

namespace quillon {
namespace {

TEST(LogLine, AppendsTextUpToTheTerminatorAsOneLine) {
    testing::RecordingLog log;
    log_line("");
    log_line(" ");
    const char high[] = {'\x01', '\x7F', '\x80', '\xFF', '\0', 'x', '\0'};
    log_line(high);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "");
    EXPECT_EQ(log.lines[1], " ");
    EXPECT_EQ(log.lines[2], std::string("\x01\x7F\x80\xFF", 4));
    EXPECT_EQ(log.repaints, 0);
    repaint_log();
    EXPECT_EQ(log.repaints, 1);
}

TEST(HexDumpRows, ZeroRowsWritesNothing) {
    testing::RecordingLog log;
    const unsigned char bytes[32] = {};
    hex_dump_rows(bytes, 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST(HexDumpRows, EightRowsOf97UpperCaseCharacters) {
    testing::RecordingLog log;
    std::array<unsigned char, 256> bytes;
    std::iota(bytes.begin(), bytes.end(), 0);
    bytes[1] = 0xAB;
    bytes[2] = 0x05;
    hex_dump_rows(bytes.data(), 8);

    ASSERT_EQ(log.lines.size(), 8u);
    for (const auto& row : log.lines) {
        EXPECT_EQ(row.size(), 97u);
        EXPECT_EQ(row.back(), '\\');
        EXPECT_EQ(row.find_first_of("abcdef "), std::string::npos) << row;
    }
    EXPECT_EQ(log.lines[0].substr(0, 9), "00,AB,05,");
    EXPECT_EQ(log.lines[7].substr(87), "FD,FE,FF,\\");
}

TEST(HexDumpRows, RowOfZeroToOneF) {
    testing::RecordingLog log;
    std::array<unsigned char, 32> bytes;
    std::iota(bytes.begin(), bytes.end(), 0);
    hex_dump_rows(bytes.data(), 1);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0],
              "00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,"
              "10,11,12,13,14,15,16,17,18,19,1A,1B,1C,1D,1E,1F,\\");
}

}  // namespace
}  // namespace quillon
