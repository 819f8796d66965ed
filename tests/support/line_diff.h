#pragma once
// Compares logs line by line and names the first line that differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace quillon::testing {

inline std::string printable(const std::string& line) {
    std::ostringstream out;
    for (unsigned char c : line) {
        if (c >= 0x20 && c < 0x7F) {
            out << c;
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            out << "\\x" << hex[c >> 4] << hex[c & 15];
        }
    }
    return out.str();
}

inline ::testing::AssertionResult SameLines(const std::vector<std::string>& expected,
                                            const std::vector<std::string>& actual) {
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (expected[i] != actual[i]) {
            return ::testing::AssertionFailure()
                   << "line " << i << " differs: expected \"" << printable(expected[i])
                   << "\", got \"" << printable(actual[i]) << "\"";
        }
    }
    if (expected.size() != actual.size()) {
        auto failure = ::testing::AssertionFailure();
        failure << "expected " << expected.size() << " lines, got " << actual.size();
        if (actual.size() > common) {
            failure << "; first extra line " << common << ": \"" << printable(actual[common])
                    << "\"";
        } else {
            failure << "; first missing line " << common << ": \""
                    << printable(expected[common]) << "\"";
        }
        return failure;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace quillon::testing
