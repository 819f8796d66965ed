#include "download_figures.h"

#include <cstdio>

namespace quillon::bench {

void DownloadFigures::add(const DownloadRun& run) {
    ++runs_;
    const double waits_us = run.waits_ms * 1e3;
    wall_s_.add(run.wall_us / 1e6);
    waits_s_.add(run.waits_ms / 1e3);
    ratio_.add(run.wall_us / waits_us);
    ratio_without_chooser_.add((run.wall_us - run.chooser_us) / waits_us);
    over_ms_.add((run.wall_us - waits_us) / 1e3);
    packet_over_ms_.add(run.packet_over_us / 1e3);
    other_over_ms_.add((run.slept_us - waits_us - run.packet_over_us) / 1e3);
    loop_ms_.add(run.gap_us.sum() / 1e3);
    chooser_ms_.add(run.chooser_us / 1e3);
    rest_ms_.add((run.wall_us - run.slept_us - run.gap_us.sum() - run.chooser_us) / 1e3);
    gap_us_.add_all(run.gap_us);
    run_gap_median_us_.add(run.gap_us.median());
    overshoot_us_.add_all(run.overshoot_us);
    other_overshoot_us_.add_all(run.other_overshoot_us);
    bulk_write_us_.add_all(run.bulk_write_us);
    dispatch_us_.add_all(run.dispatch_us);
    repaint_us_.add_all(run.repaint_us);
    if (!run.flash_matches || !run.ended_cleanly || run.packet_waits != 4096) ++bad_runs_;
}

void DownloadFigures::print(const char* pane) const {
    std::printf("\n== Whole download of %u bytes, %s\n", LARGEST_IMAGE, pane);
    std::printf("   %d runs, each File > Open in the real window (offscreen) on the system clock, "
                "chooser answered the moment it runs, power button held\n",
                runs_);
    std::printf("   wall time, Open1 triggered -> returned   %s\n", wall_s_.range("s", 1, 3).c_str());
    std::printf("   sum of the waits asked: the floor        %s\n", waits_s_.range("s", 1, 3).c_str());
    std::printf("   ratio wall / waits, per run              %s   target <= 1.02\n",
                ratio_.range("", 1, 4).c_str());
    std::printf("   the same without the chooser's time      %s\n",
                ratio_without_chooser_.range("", 1, 4).c_str());
    std::printf("   wall - waits, per run                    %s, made of:\n",
                over_ms_.range("ms", 1, 1).c_str());
    std::printf("     the 4096 1 ms waits lasting longer     %s\n", packet_over_ms_.range("ms", 1, 1).c_str());
    std::printf("     the other waits lasting longer         %s\n", other_over_ms_.range("ms", 1, 1).c_str());
    std::printf("       each of them                         %s\n", other_overshoot_us_.spread("us").c_str());
    std::printf("     the transfer loop's own work           %s\n", loop_ms_.range("ms", 1, 1).c_str());
    std::printf("     the chooser                            %s\n", chooser_ms_.range("ms", 1, 1).c_str());
    std::printf("     the rest (opens, commands, lines)      %s\n", rest_ms_.range("ms", 1, 1).c_str());
    std::printf("   per packet, pooled over the runs:\n");
    std::printf("     own work beyond the 1 ms wait          %s   target median < 20 us\n",
                gap_us_.spread("us").c_str());
    std::printf("       (end of one 1 ms wait to the start of the next: mark, repaint, bulk write, "
                "dispatch)\n");
    std::printf("       median of each run                   %s\n", run_gap_median_us_.range("us").c_str());
    std::printf("       of it, bulk write (simulated bus)    %s\n", bulk_write_us_.spread("us").c_str());
    std::printf("       of it, dispatch of pending events    %s\n", dispatch_us_.spread("us").c_str());
    std::printf("       of it, repaint of the log pane       %s\n", repaint_us_.spread("us").c_str());
    std::printf("     the 1 ms wait's overshoot              %s\n", overshoot_us_.spread("us").c_str());
    if (bad_runs_ > 0)
        std::printf("   !! %d runs did not write the whole image or did not end with \"Leaving OPEN\"\n",
                    bad_runs_);
}

}  // namespace quillon::bench
