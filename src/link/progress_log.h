#pragma once
// The progress log: the program's one output channel. Lines are 8-bit strings
// (any byte 1..255); the window is the sink in the program, a recorder in tests.
#include <cstdint>
#include <string_view>

namespace quillon {

class LogSink {
public:
    virtual ~LogSink() = default;
    // Appends one line after everything the pane holds.
    virtual void append_line(std::string_view line) = 0;
    // Paints pending changes now, dispatching no other event.
    virtual void repaint() = 0;
};

// Installs the program-wide sink and returns the previous one. With none, lines are dropped.
LogSink* set_log_sink(LogSink* sink);

// Appends the characters before the terminating zero as one new last line.
void log_line(const char* text);
void repaint_log();
// Appends row_count lines of 32 bytes each as "XX," groups and a closing backslash.
void hex_dump_rows(const unsigned char* bytes, std::uint32_t row_count);

// Sets a sink for one scope and puts the previous one back.
class ScopedLogSink {
public:
    explicit ScopedLogSink(LogSink& sink) : previous_(set_log_sink(&sink)) {}
    ~ScopedLogSink() { set_log_sink(previous_); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    LogSink* previous_;
};

}  // namespace quillon
