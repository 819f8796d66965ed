#pragma once
// The instrument's NOR flash and the memory map around it, as the bulk IN endpoint reads it.
#include <cstdint>
#include <span>
#include <vector>

namespace quillon::sim {

class FlashMemory {
public:
    FlashMemory(std::uint32_t base, std::uint32_t size);

    std::uint32_t base() const { return base_; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    // True when [address, address + length) lies inside the flash.
    bool contains(std::uint32_t address, std::uint64_t length) const;

    // Addresses outside the flash read as 0x00: nothing else is mapped in the model.
    void read(std::uint32_t address, std::span<std::uint8_t> out) const;
    // Sets a range to the erased state, 0xFF. The range must lie inside the flash.
    void erase(std::uint32_t address, std::uint32_t length);
    // NOR programming can only clear bits: each byte becomes old & new.
    void program(std::uint32_t address, std::span<const std::uint8_t> data);
    // Overwrites bytes as a flash programmer on the bench would; outside bytes are dropped.
    void fill(std::uint32_t address, std::span<const std::uint8_t> data);

private:
    std::uint32_t base_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace quillon::sim
