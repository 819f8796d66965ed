#pragma once
// The figures of whole downloads: totals over runs, and their report.
#include "download_rig.h"
#include "samples.h"

namespace quillon::bench {

class DownloadFigures {
public:
    void add(const DownloadRun& run);
    void print(const char* pane) const;

private:
    int runs_ = 0;
    int bad_runs_ = 0;
    Samples wall_s_, waits_s_, ratio_, ratio_without_chooser_;
    Samples over_ms_, packet_over_ms_, other_over_ms_, loop_ms_, chooser_ms_, rest_ms_;
    Samples gap_us_, run_gap_median_us_, overshoot_us_, other_overshoot_us_, bulk_write_us_, dispatch_us_, repaint_us_;
};

}  // namespace quillon::bench
