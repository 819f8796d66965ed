#pragma once
// The log at growing sizes: panes filled to 10^3, 10^5 and 10^6 lines, the cost of a line
// (log_line + repaint_log) timed in turns on all of them, and the memory each one holds.
#include "download_rig.h"
#include "samples.h"

#include <memory>
#include <string>
#include <vector>

namespace quillon::bench {

// Heap in use: what the allocator has handed out and not got back (mallinfo2).
double heap_bytes();

struct PaneAtSize {
    std::unique_ptr<DownloadRig> rig;
    int lines_filled = 0;
    double heap_per_line = 0;  // growth of the heap while filling, per line
    double fill_s = 0;
    Samples log_line_us, repaint_us, both_us;
};

class PaneFigures {
public:
    // Fills one window per size, the largest last (it stays the program's log sink).
    explicit PaneFigures(const std::vector<int>& sizes);
    // `lines` calls of log_line + repaint_log on each pane, in turns of 100.
    void time_lines(int lines);
    // Heap per line of `count` one-character lines, in a pane of their own.
    void measure_short_lines(int count);
    void print() const;

    DownloadRig& largest() { return *panes_.back().rig; }

private:
    std::vector<PaneAtSize> panes_;
    int timed_ = 0;
    int short_lines_ = 0;
    double short_heap_per_line_ = 0;
};

}  // namespace quillon::bench
