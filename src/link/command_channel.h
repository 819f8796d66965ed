#pragma once
// Command blocks, the control transfer that carries them, and the memory read-back.
#include "usb_api.h"

#include <array>
#include <cstdint>

namespace quillon {

class InstrumentLink;

inline constexpr std::uint32_t CMD_READ_MEMORY = 2;
inline constexpr std::uint32_t CMD_WRITE_FLASH = 6;
inline constexpr std::uint32_t CMD_RESET = 7;
inline constexpr std::uint32_t CMD_RESTART = 8;
inline constexpr std::uint32_t CMD_ERASE_FLASH = 9;

inline constexpr int COMMAND_REQUEST_TYPE = 0x40;  // host to device, vendor, device
inline constexpr int COMMAND_REQUEST = 3;
inline constexpr int COMMAND_VALUE = 0x0200;
inline constexpr int COMMAND_INDEX = 0;

inline constexpr std::uint32_t APP_FLASH_BASE = 0x08004000;
inline constexpr std::uint32_t ERASE_COUNT = 110;
inline constexpr int BULK_IN_ENDPOINT = 0x83;
inline constexpr int BULK_OUT_ENDPOINT = 0x04;
inline constexpr int BULK_OUT_PACKET = 64;

inline constexpr int SHORT_BLOCK = 4;
inline constexpr int LONG_BLOCK = 12;

// Time-outs in milliseconds.
inline constexpr int READ_MEMORY_TIMEOUT_MS = 100;
inline constexpr int WRITE_FLASH_TIMEOUT_MS = 1000;
inline constexpr int RESET_TIMEOUT_MS = 1000;
inline constexpr int RESTART_TIMEOUT_MS = 100;
inline constexpr int ERASE_FLASH_TIMEOUT_MS = 5000;
inline constexpr int BULK_IN_TIMEOUT_MS = 100;
inline constexpr int BULK_OUT_TIMEOUT_MS = 1000;

// The wire form of a command: code, address, count, each little-endian.
struct CommandBlock {
    std::array<unsigned char, LONG_BLOCK> bytes{};
};
static_assert(sizeof(CommandBlock) == LONG_BLOCK, "a command block is 12 bytes on the wire");

// A 4-byte command: the code alone.
CommandBlock make_command(std::uint32_t code);
// A 12-byte command; the erase count travels as 12 bits.
CommandBlock make_command(std::uint32_t code, std::uint32_t address, std::uint32_t count);

// Sends the first `length` bytes of `block` as the vendor request; the library's result unchanged.
int send_command(UsbApi& usb, usb_dev_handle* handle, const CommandBlock& block, int length,
                 int timeout_ms);
// In verbose mode, logs the block as 12 characters, each byte plus '0'.
void echo_block(const InstrumentLink& link, const CommandBlock& block);
// Reads `length` bytes of instrument memory from `address` into `buffer`.
void get_usb_md(InstrumentLink& link, usb_dev_handle* handle, unsigned char* buffer,
                std::uint32_t address, int length);

}  // namespace quillon
