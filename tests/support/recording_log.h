#pragma once
// A log sink that keeps every line and counts repaints, for asserting the log line by line.
#include "link/progress_log.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillon::testing {

class RecordingLog final : public LogSink {
public:
    RecordingLog() : scope_(*this) {}

    void append_line(std::string_view line) override { lines.emplace_back(line); }
    void repaint() override {
        ++repaints;
        repainted_at.push_back(lines.size());
    }

    std::vector<std::string> lines;
    int repaints = 0;
    std::vector<std::size_t> repainted_at;  // number of lines at each repaint

    void clear() {
        lines.clear();
        repaints = 0;
        repainted_at.clear();
    }

private:
    ScopedLogSink scope_;
};

}  // namespace quillon::testing
