#pragma once
// Bytes as "09 02 20 00": wire bytes read like the tables they are checked against.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::string hex(const Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace quillon::testing
