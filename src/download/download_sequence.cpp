#include "download/download_sequence.h"

#include "download/download_host.h"
#include "download/firmware_image.h"
#include "download/working_directory.h"
#include "link/clock.h"
#include "link/command_channel.h"
#include "link/instrument_link.h"
#include "link/progress_log.h"

#include <array>
#include <cstdio>
#include <exception>
#include <string>

namespace quillon {
namespace {

// The verbose pre-dump: three reads of 256 bytes, each shown as 8 rows of 32.
constexpr std::uint32_t PRE_DUMP_READS = 3;
constexpr std::uint32_t PRE_DUMP_BYTES = 256;
constexpr std::uint32_t PRE_DUMP_ROWS = 8;
// Unsent byte counts at which the transfer writes a progress mark.
constexpr std::array<int, 6> PROGRESS_MARKS = {110000, 100000, 70000, 50000, 20000, 10000};

void log_number(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    log_line(text);
}

void log_and_repaint(const char* text) {
    log_line(text);
    repaint_log();
}

void log_exception(const InstrumentLink& link, const char* command, const char* what) {
    if (link.verbose()) log_line((std::string(command) + " command exception: " + what).c_str());
}

// Sends a command whose result the sequence does not judge, inside a catch-all: after an
// exception the sequence goes on as if the call had returned.
template <typename Send>
void send_guarded(const InstrumentLink& link, const char* command, Send send) {
    try {
        send();
    } catch (const std::exception& e) {
        log_exception(link, command, e.what());
    } catch (...) {
        log_exception(link, command, "unknown");
    }
}

// The start of the application flash, as it is before the erase.
void pre_dump(InstrumentLink& link) {
    unsigned char buffer[PRE_DUMP_BYTES] = {};
    for (std::uint32_t i = 0; i < PRE_DUMP_READS; ++i) {
        get_usb_md(link, link.usb_handle(), buffer, APP_FLASH_BASE + i * PRE_DUMP_BYTES,
                   PRE_DUMP_BYTES);
        if (i == 0) link.clock().sleep_ms(1);
        hex_dump_rows(buffer, PRE_DUMP_ROWS);
    }
}

// The user holds the power button through this so that the restart enters the loader.
void countdown(Clock& clock) {
    log_and_repaint("HOLD DOWN POWER BUTTON NOW!!!");
    clock.sleep_ms(1000);
    clock.sleep_ms(200);
    for (const char* digit : {"3", "2", "1"}) {
        log_and_repaint(digit);
        clock.sleep_ms(1000);
    }
}

void restart(InstrumentLink& link, DownloadHost& host) {
    send_guarded(link, "Restart", [&] {
        return send_command(link.usb(), link.usb_handle(), make_command(CMD_RESTART),
                            SHORT_BLOCK, RESTART_TIMEOUT_MS);
    });
    link.clock().sleep_ms(100);
    host.beep();
    log_and_repaint("You can release the power button.");
    link.clock().sleep_ms(100);
}

// The restarted instrument comes back as a new device; find it from a fresh scan.
int reconnect(InstrumentLink& link) {
    link.close_instrument();
    log_and_repaint(".");
    link.clock().sleep_ms(1000);
    return link.open_instrument_with_retry();
}

int erase(InstrumentLink& link) {
    link.clock().sleep_ms(100);
    const CommandBlock block = make_command(CMD_ERASE_FLASH, APP_FLASH_BASE, ERASE_COUNT);
    echo_block(link, block);
    const int result = send_command(link.usb(), link.usb_handle(), block, LONG_BLOCK,
                                    ERASE_FLASH_TIMEOUT_MS);
    if (link.verbose() && result != LONG_BLOCK) {
        log_number(result);
        log_line(link.usb().strerror());
    }
    log_and_repaint(result == LONG_BLOCK ? "Erasing flash." : "Erasing flash failed.");
    link.clock().sleep_ms(800);
    return result;
}

void write_command(InstrumentLink& link, const FirmwareImage& image) {
    const CommandBlock block = make_command(CMD_WRITE_FLASH, APP_FLASH_BASE, image.length);
    echo_block(link, block);
    send_guarded(link, "Write", [&] {
        return send_command(link.usb(), link.usb_handle(), block, LONG_BLOCK,
                            WRITE_FLASH_TIMEOUT_MS);
    });
    echo_block(link, block);
    log_and_repaint("Writing flash.");
    link.clock().sleep_ms(10);
}

bool at_progress_mark(int remaining) {
    for (int mark : PROGRESS_MARKS) {
        if (remaining > mark && remaining < mark + BULK_OUT_PACKET + 1) return true;
    }
    return false;
}

// Sends the image in 64-byte packets, letting the window handle its events after each.
// False when the application began to close: the caller returns at once.
bool transfer(InstrumentLink& link, DownloadHost& host, const FirmwareImage& image) {
    UsbApi& usb = link.usb();
    Clock& clock = link.clock();
    const char* position = reinterpret_cast<const char*>(image.bytes.get());
    int remaining = static_cast<int>(image.length);
    // Every packet is still attempted after one fails, but the log must not read as a success.
    bool complete = true;

    while (remaining > BULK_OUT_PACKET - 1) {
        const int written = usb.bulk_write(link.usb_handle(), BULK_OUT_ENDPOINT, position,
                                           BULK_OUT_PACKET, BULK_OUT_TIMEOUT_MS);
        if (written != BULK_OUT_PACKET) complete = false;
        host.dispatch_pending_events();
        if (host.terminating()) return false;
        clock.sleep_ms(1);
        position += BULK_OUT_PACKET;
        if (at_progress_mark(remaining)) log_line(".");
        repaint_log();
        remaining -= BULK_OUT_PACKET;
    }
    if (remaining > 0) {
        const int written = usb.bulk_write(link.usb_handle(), BULK_OUT_ENDPOINT, position,
                                           remaining, BULK_OUT_TIMEOUT_MS);
        if (written != remaining) complete = false;
        clock.sleep_ms(1);
    }
    clock.sleep_ms(2);
    if (link.verbose()) log_line(" USB transfer complete.");
    if (!complete) log_line("Writing flash failed.");
    log_line(" ");
    return true;
}

// The line follows the reset command's own result.
void final_reset(InstrumentLink& link) {
    link.clock().sleep_ms(500);
    const int result = send_command(link.usb(), link.usb_handle(), make_command(CMD_RESET),
                                    SHORT_BLOCK, RESET_TIMEOUT_MS);
    log_line(result > 0 ? "Reset sent." : "Reset the instrument.");
}

}  // namespace

DownloadEnd download_firmware(InstrumentLink& link, DownloadHost& host) {
    // The chooser may move the working directory; it is put back at the end.
    const std::optional<std::string> saved_directory = current_directory();

    int open_result = link.open_instrument_with_retry();
    if (open_result != OPEN_OK) {
        log_line("No instrument found.  Remove, then restore cable.");
    } else {
        FirmwareImage image;
        if (allocate_image(image)) {
            host.show_usb_status();
            if (link.verbose()) pre_dump(link);
            if (load_image(image, host)) {
                countdown(link.clock());
                restart(link, host);
                open_result = reconnect(link);
                if (open_result == OPEN_OK) {
                    // A positive result other than a whole block is reported as a
                    // failure, yet the write still goes ahead.
                    if (erase(link) > 0) {
                        write_command(link, image);
                        // The image buffer goes with `image` on this early return too.
                        if (!transfer(link, host, image)) return DownloadEnd::Terminated;
                    }
                }
            }
            free_image(image);
            if (open_result == OPEN_OK) final_reset(link);
        }
    }

    link.close_instrument();
    // A directory that could not be read is left as it is.
    if (saved_directory) change_directory(*saved_directory);
    log_line("Leaving OPEN");
    return DownloadEnd::Finished;
}

}  // namespace quillon
