#include "pane_figures.h"

#include "app/log_pane.h"
#include "link/progress_log.h"
#include "monotonic.h"

#include <QCoreApplication>

#include <malloc.h>

#include <cstdio>

namespace quillon::bench {
namespace {

constexpr int ROWS_PER_CHUNK = 10000;
constexpr int TURN = 100;

// Dump bytes: every row of a chunk is different.
std::vector<unsigned char> dump_bytes(std::size_t rows, unsigned seed) {
    std::vector<unsigned char> bytes(rows * 32);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 131 + seed * 7 + (i >> 5)) & 0xFF);
    return bytes;
}

// Appends 97-character hex rows through the program's own call until the pane holds
// `lines`, letting the event loop run between chunks as it does between commands.
void fill_to(LogPane& pane, int lines) {
    static const std::vector<unsigned char> rows = dump_bytes(ROWS_PER_CHUNK, 1);
    while (pane.line_count() < lines) {
        const int n = std::min(ROWS_PER_CHUNK, lines - pane.line_count());
        hex_dump_rows(rows.data(), static_cast<std::uint32_t>(n));
        QCoreApplication::processEvents();
    }
}

std::string hex_row() {
    std::string row;
    for (unsigned char b : dump_bytes(1, 2)) {
        static constexpr char digits[] = "0123456789ABCDEF";
        row += digits[b >> 4];
        row += digits[b & 15];
        row += ',';
    }
    return row + '\\';
}

}  // namespace

double heap_bytes() {
    QCoreApplication::processEvents();
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

PaneFigures::PaneFigures(const std::vector<int>& sizes) {
    for (int size : sizes) {
        PaneAtSize pane;
        pane.rig = std::make_unique<DownloadRig>();
        LogPane& log = *pane.rig->window().RichEdit1;
        const double before = heap_bytes();
        const std::int64_t start = monotonic_ns();
        fill_to(log, size);
        pane.fill_s = us_since(start) / 1e6;
        pane.lines_filled = log.line_count();
        pane.heap_per_line = (heap_bytes() - before) / pane.lines_filled;
        panes_.push_back(std::move(pane));
    }
}

void PaneFigures::time_lines(int lines) {
    timed_ = lines;
    const std::string row = hex_row();
    LogSink* const program_sink = set_log_sink(nullptr);
    for (int done = 0; done < lines; done += TURN) {
        for (PaneAtSize& pane : panes_) {
            set_log_sink(&pane.rig->window());
            for (int i = 0; i < TURN; ++i) {
                const std::int64_t start = monotonic_ns();
                log_line(row.c_str());
                const std::int64_t logged = monotonic_ns();
                repaint_log();
                const std::int64_t end = monotonic_ns();
                pane.log_line_us.add(static_cast<double>(logged - start) / 1e3);
                pane.repaint_us.add(static_cast<double>(end - logged) / 1e3);
                pane.both_us.add(static_cast<double>(end - start) / 1e3);
            }
            QCoreApplication::processEvents();
        }
    }
    set_log_sink(program_sink);
}

void PaneFigures::measure_short_lines(int count) {
    DownloadRig rig;
    const double before = heap_bytes();
    for (int i = 0; i < count; ++i) {
        log_line(".");
        if (i % ROWS_PER_CHUNK == 0) QCoreApplication::processEvents();
    }
    short_lines_ = count;
    short_heap_per_line_ = (heap_bytes() - before) / count;
}

void PaneFigures::print() const {
    std::printf("\n== log_line + repaint_log per line, at growing pane sizes\n");
    std::printf("   one real window (offscreen) per size, its pane filled with 97-character hex "
                "rows by hex_dump_rows;\n   then log_line(row) + repaint_log() %d times on each, "
                "in turns of %d per window, each call timed\n",
                timed_, TURN);
    for (const PaneAtSize& pane : panes_) {
        std::printf("   %7d lines   both         %s\n", pane.lines_filled, pane.both_us.spread("us").c_str());
        std::printf("                   log_line     %s\n", pane.log_line_us.spread("us").c_str());
        std::printf("                   repaint_log  %s\n", pane.repaint_us.spread("us").c_str());
    }
    const PaneAtSize& small = panes_.front();
    const PaneAtSize& large = panes_.back();
    std::printf("   median at %d lines / median at %d lines, same run: both %.2f, log_line %.2f, "
                "repaint_log %.2f   target: flat (1.00)\n",
                large.lines_filled, small.lines_filled,
                large.both_us.median() / small.both_us.median(),
                large.log_line_us.median() / small.log_line_us.median(),
                large.repaint_us.median() / small.repaint_us.median());
    std::printf("   memory the pane holds per line: growth of the heap in use (mallinfo2 uordblks + "
                "hblkhd) while filling, per line\n");
    for (const PaneAtSize& pane : panes_)
        std::printf("   %7d lines   %5.0f bytes/line   (filled in %.1f s)\n", pane.lines_filled,
                    pane.heap_per_line, pane.fill_s);
    std::printf("   %7d lines of one character (\".\"), in a pane of their own: %5.0f bytes/line\n",
                short_lines_, short_heap_per_line_);
    std::printf("   floor: the text itself, 2 bytes a character in UTF-16: 196 bytes for a row and "
                "its paragraph end, 4 for \".\"\n");
}

}  // namespace quillon::bench
