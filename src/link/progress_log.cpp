#include "progress_log.h"

namespace quillon {
namespace {
LogSink* g_sink = nullptr;
}

LogSink* set_log_sink(LogSink* sink) {
    LogSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

void log_line(const char* text) {
    if (g_sink) g_sink->append_line(text ? std::string_view(text) : std::string_view());
}

void repaint_log() {
    if (g_sink) g_sink->repaint();
}

void hex_dump_rows(const unsigned char* bytes, std::uint32_t row_count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::uint32_t r = 0; r < row_count; ++r) {
        char row[32 * 3 + 2];
        const unsigned char* p = bytes + static_cast<std::size_t>(r) * 32;
        for (int i = 0; i < 32; ++i) {
            row[i * 3] = digits[p[i] >> 4];
            row[i * 3 + 1] = digits[p[i] & 0x0F];
            row[i * 3 + 2] = ',';
        }
        row[96] = '\\';
        row[97] = '\0';
        log_line(row);
    }
}

}  // namespace quillon
