#include "download_rig.h"

#include "app/log_pane.h"
#include "app/log_text.h"
#include "link/command_channel.h"
#include "monotonic.h"

#include <QAction>
#include <QEventLoop>
#include <QFile>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

namespace quillon::bench {

std::vector<std::uint8_t> image_bytes(std::uint32_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(0xFF - i * 37);
    return bytes;
}

DownloadRig::DownloadRig() : image_(image_bytes(LARGEST_IMAGE)) {
    const int bus = sim_usb_.add_bus();
    sim_usb_.add_instrument(bus).set_power_button(true);

    QFile file(folder_.filePath(QStringLiteral("image.bin")));
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(image_.data()), static_cast<qint64>(image_.size()));
    file.close();

    link_.emplace(usb_, program_clock_);
    window_.emplace(*link_, folder_.path(), QStringLiteral("image.bin"));
    window_->show_and_wait_exposed();
}

DownloadRig::~DownloadRig() {
    window_.reset();
    link_.reset();
}

DownloadRun DownloadRig::run_download() {
    // The last run's reset takes the instrument off the bus for a while; a download that
    // found it missing would wait out a retry.
    while (!sim_usb_.instrument().present()) QThread::msleep(50);

    BenchWindow& window = *window_;
    window.dispatch_us.clear();
    window.repaint_us.clear();
    program_clock_.clear();
    const std::size_t waits_before = timing_clock_.waits().size();
    const std::size_t bulk_before = usb_.bulk_write_us().size();
    sim_usb_.clear_calls();

    DownloadRun run;
    QEventLoop loop;
    QTimer::singleShot(0, &window, [&] {
        const std::int64_t start = monotonic_ns();
        window.Open1->trigger();
        run.wall_us = us_since(start);
        loop.quit();
    });
    loop.exec();

    run.chooser_us = window.chooser_us;
    run.waits_ms = static_cast<double>(program_clock_.total_ms());

    const std::vector<TimedWait>& waits = timing_clock_.waits();
    const TimedWait* previous_packet_wait = nullptr;
    for (std::size_t i = waits_before; i < waits.size(); ++i) {
        const TimedWait& wait = waits[i];
        const double lasted_us = static_cast<double>(wait.end_ns - wait.start_ns) / 1000.0;
        run.slept_us += lasted_us;
        if (wait.ms != 1) {
            run.other_overshoot_us.add(lasted_us - wait.ms * 1000.0);
            previous_packet_wait = nullptr;
            continue;
        }
        ++run.packet_waits;
        run.packet_over_us += lasted_us - 1000.0;
        run.overshoot_us.add(lasted_us - 1000.0);
        if (previous_packet_wait)
            run.gap_us.add(static_cast<double>(wait.start_ns - previous_packet_wait->end_ns) /
                           1000.0);
        previous_packet_wait = &wait;
    }
    for (std::size_t i = bulk_before; i < usb_.bulk_write_us().size(); ++i)
        run.bulk_write_us.add(usb_.bulk_write_us()[i]);
    for (double us : window.dispatch_us) run.dispatch_us.add(us);
    // The transfer's repaints are the last ones of a run: nothing after it repaints.
    const std::size_t transfer_repaints =
        std::min(window.repaint_us.size(), window.dispatch_us.size());
    for (std::size_t i = window.repaint_us.size() - transfer_repaints;
         i < window.repaint_us.size(); ++i)
        run.repaint_us.add(window.repaint_us[i]);

    run.flash_matches = sim_usb_.instrument().read_flash(APP_FLASH_BASE, LARGEST_IMAGE) == image_;
    const QTextBlock last = window.RichEdit1->document()->lastBlock();
    run.ended_cleanly = from_pane_text(last.text()) == "Leaving OPEN";
    return run;
}

}  // namespace quillon::bench
