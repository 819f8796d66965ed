// The figures that need the real window, in one window set that grows: whole downloads on
// an empty pane and on the largest pane, taken in turns; the log at growing sizes; saving.
#include "app/log_file.h"
#include "app/log_pane.h"
#include "download_figures.h"
#include "monotonic.h"
#include "pane_figures.h"
#include "sections.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace quillon::bench {
namespace {

void save_figures(const LogPane& pane, int runs) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("log.csv"));
    Samples save_ms;
    qint64 size = 0;
    for (int i = 0; i < runs; ++i) {
        QFile::remove(path);
        const std::int64_t start = monotonic_ns();
        write_log_file(pane, path);
        save_ms.add(us_since(start) / 1e3);
        size = QFileInfo(path).size();
    }
    std::printf("\n== Saving a log of %d lines: write_log_file, what File > Save does once the "
                "name is chosen\n",
                pane.line_count());
    std::printf("   %d saves, each to a new file on the local disk (ext4), no fsync\n", runs);
    std::printf("   save                                %s   (%lld bytes, %.0f MB/s at the median)\n",
                save_ms.range("ms", 1, 0).c_str(), static_cast<long long>(size),
                static_cast<double>(size) / save_ms.median() / 1e3);
}

}  // namespace

void window_sections(const Settings& settings) {
    PaneFigures panes({1000, 100000, settings.big_pane});
    panes.measure_short_lines(100000);
    panes.time_lines(settings.timed_lines);
    panes.print();
    std::fflush(stdout);

    save_figures(*panes.largest().window().RichEdit1, settings.save_runs);
    std::fflush(stdout);

    const int big_lines = panes.largest().window().RichEdit1->line_count();
    DownloadFigures empty, full;
    for (int i = 0; i < settings.download_runs; ++i) {
        {
            DownloadRig fresh;
            empty.add(fresh.run_download());
        }
        full.add(panes.largest().run_download());
    }
    empty.print("empty pane at the start");
    char title[64];
    std::snprintf(title, sizeof title, "pane holding %d lines at the start", big_lines);
    full.print(title);
}

}  // namespace quillon::bench
