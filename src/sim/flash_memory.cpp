#include "sim/flash_memory.h"

#include <algorithm>

namespace quillon::sim {

FlashMemory::FlashMemory(std::uint32_t base, std::uint32_t size) : base_(base), bytes_(size) {}

bool FlashMemory::contains(std::uint32_t address, std::uint64_t length) const {
    return address >= base_ && std::uint64_t{address} - base_ + length <= bytes_.size();
}

void FlashMemory::read(std::uint32_t address, std::span<std::uint8_t> out) const {
    for (std::size_t i = 0; i < out.size(); ++i) {
        // 64-bit arithmetic: a read may run past the top of the 32-bit address space.
        const std::uint64_t at = std::uint64_t{address} + i;
        out[i] = (at >= base_ && at - base_ < bytes_.size()) ? bytes_[at - base_] : 0x00;
    }
}

void FlashMemory::erase(std::uint32_t address, std::uint32_t length) {
    auto first = bytes_.begin() + (address - base_);
    std::fill(first, first + length, std::uint8_t{0xFF});
}

void FlashMemory::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::uint8_t* cell = bytes_.data() + (address - base_);
    for (std::uint8_t byte : data) *cell++ &= byte;
}

void FlashMemory::fill(std::uint32_t address, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint64_t at = std::uint64_t{address} + i;
        if (at >= base_ && at - base_ < bytes_.size()) bytes_[at - base_] = data[i];
    }
}

}  // namespace quillon::sim
