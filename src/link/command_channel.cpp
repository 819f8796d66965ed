#include "link/command_channel.h"

#include "link/clock.h"
#include "link/instrument_link.h"
#include "link/progress_log.h"

#include <cstdio>

namespace quillon {
namespace {

// The instrument takes the erase count as a 12-bit quantity.
constexpr std::uint32_t ERASE_COUNT_MASK = 0x0FFF;

// A chunk loop over a packet size of 0 or less would never end; read full-speed packets then.
constexpr int FALLBACK_PACKET = 64;
constexpr int READ_ATTEMPTS = 9;
// A command reply shorter than this is reported as a short block.
constexpr int SHORT_COMMAND_REPLY = 8;

void put_le32(CommandBlock& block, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        block.bytes[static_cast<std::size_t>(offset + i)] =
            static_cast<unsigned char>(value >> (8 * i));
    }
}

void log_number(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    log_line(text);
}

// Reads one chunk into `position`: up to nine tries of the same size into the same place.
void read_chunk(InstrumentLink& link, usb_dev_handle* handle, unsigned char* position,
                int chunk) {
    UsbApi& usb = link.usb();
    Clock& clock = link.clock();
    for (int attempt = 1; attempt <= READ_ATTEMPTS; ++attempt) {
        clock.sleep_ms(1);
        const int result = usb.bulk_read(handle, BULK_IN_ENDPOINT,
                                         reinterpret_cast<char*>(position), chunk,
                                         BULK_IN_TIMEOUT_MS);
        clock.sleep_ms(1);
        if (result < 0) log_line(usb.strerror());
        if (result == chunk && link.verbose()) {
            log_line("correct return");
        } else if (link.verbose() || attempt == READ_ATTEMPTS) {
            log_number(result);
        }
        if (result == chunk) return;
    }
}

}  // namespace

CommandBlock make_command(std::uint32_t code) {
    CommandBlock block;
    put_le32(block, 0, code);
    return block;
}

CommandBlock make_command(std::uint32_t code, std::uint32_t address, std::uint32_t count) {
    CommandBlock block = make_command(code);
    put_le32(block, 4, address);
    put_le32(block, 8, code == CMD_ERASE_FLASH ? (count & ERASE_COUNT_MASK) : count);
    return block;
}

int send_command(UsbApi& usb, usb_dev_handle* handle, const CommandBlock& block, int length,
                 int timeout_ms) {
    // The library takes a mutable buffer even for an OUT transfer.
    CommandBlock wire = block;
    return usb.control_msg(handle, /*requesttype=*/COMMAND_REQUEST_TYPE,
                           /*request=*/COMMAND_REQUEST, /*value=*/COMMAND_VALUE,
                           /*index=*/COMMAND_INDEX, reinterpret_cast<char*>(wire.bytes.data()),
                           /*size=*/length, /*timeout=*/timeout_ms);
}

void echo_block(const InstrumentLink& link, const CommandBlock& block) {
    if (!link.verbose()) return;
    // A byte of 0xD0 becomes the terminator, so the line may end early.
    char text[LONG_BLOCK + 1];
    for (std::size_t i = 0; i < block.bytes.size(); ++i) {
        text[i] = static_cast<char>(static_cast<unsigned char>(block.bytes[i] + '0'));
    }
    text[LONG_BLOCK] = '\0';
    log_line(text);
}

void get_usb_md(InstrumentLink& link, usb_dev_handle* handle, unsigned char* buffer,
                std::uint32_t address, int length) {
    const bool verbose = link.verbose();
    const int packet = link.max_packet_size();
    if (link.verbosity() == VERBOSITY_VERBOSE) {
        log_line("get_usb_md");
        if (packet == 512) log_line("USB2.0");
    }
    if (handle == nullptr) {
        if (verbose) log_line("USB already closed");
        return;
    }

    const CommandBlock block =
        make_command(CMD_READ_MEMORY, address, static_cast<std::uint32_t>(length));
    echo_block(link, block);
    const int sent = send_command(link.usb(), handle, block, LONG_BLOCK, READ_MEMORY_TIMEOUT_MS);
    link.clock().sleep_ms(1);
    if (sent < 0) {
        log_line(link.usb().strerror());
    } else if (sent < SHORT_COMMAND_REPLY && verbose) {
        log_line("Returned smaller block.");
        log_line("wanted");
        log_line("12");
        log_line("got");
        log_number(sent);
    }

    // The reads go on whatever the command gave; each is bounded by its own time-out.
    const int packet_size = packet > 0 ? packet : FALLBACK_PACKET;
    int remaining = length;
    unsigned char* position = buffer;
    while (remaining > 0) {
        const int chunk = packet_size < remaining ? packet_size : remaining;
        read_chunk(link, handle, position, chunk);
        if (verbose) {
            if (chunk == 512) {
                log_line("reading 512");
            } else if (chunk == 64) {
                log_line("reading 64");
            } else {
                log_line("reading to end");
            }
        }
        remaining -= chunk;
        position += chunk;
    }
}

}  // namespace quillon
