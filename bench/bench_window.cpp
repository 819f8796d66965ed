#include "bench_window.h"

#include "monotonic.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

namespace quillon::bench {

BenchWindow::BenchWindow(InstrumentLink& link, const QString& image_folder,
                         const QString& image_name)
    : TMainForm(link, MainFormOptions{image_folder}), image_name_(image_name) {
    dispatch_us.reserve(8192);
    repaint_us.reserve(8192);
}

void BenchWindow::show_and_wait_exposed() {
    show();
    const std::int64_t start = monotonic_ns();
    while (!(windowHandle() && windowHandle()->isExposed()) &&
           monotonic_ns() - start < 5'000'000'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
}

std::optional<std::string> BenchWindow::choose_image_file() {
    // Answered from the dialog's own event loop, the moment it runs.
    QTimer::singleShot(0, OpenDialog1, [this] {
        if (auto* field = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            field->setText(image_name_);
        static_cast<QDialog*>(OpenDialog1)->accept();  // as the Open button does
    });
    const std::int64_t start = monotonic_ns();
    std::optional<std::string> path = TMainForm::choose_image_file();
    chooser_us = us_since(start);
    return path;
}

void BenchWindow::dispatch_pending_events() {
    const std::int64_t start = monotonic_ns();
    TMainForm::dispatch_pending_events();
    dispatch_us.push_back(us_since(start));
}

void BenchWindow::repaint() {
    const std::int64_t start = monotonic_ns();
    TMainForm::repaint();
    repaint_us.push_back(us_since(start));
}

}  // namespace quillon::bench
