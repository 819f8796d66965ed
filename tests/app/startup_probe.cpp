// Runs the program's start-up on a simulated bus, for the start-up tests:
//   startup_probe fail   the window's construction is followed by a failure
//   startup_probe exit   the window is shown and File > Exit is chosen at once
// It prints what each error box showed ("box: title|text|icon") and answers it with OK.
#include "app/app_main.h"
#include "app/error_box.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

void answer_error_boxes() {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        std::printf("box: %s|%s|%d\n", qPrintable(box->windowTitle()), qPrintable(box->text()),
                    static_cast<int>(box->icon()));
        std::fflush(stdout);
        box->button(QMessageBox::Ok)->click();
    });
    timer->start(5);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fail = argc > 1 && std::strcmp(argv[1], "fail") == 0;
    quillon::sim::VirtualClock clock;
    quillon::sim::SimUsb usb(clock);
    quillon::StartupOptions options;
    options.on_window_built = [fail](quillon::TMainForm& window) {
        answer_error_boxes();
        if (fail) throw quillon::CommandFailure("Window could not be built");
        QTimer::singleShot(0, &window, [&window] {
            std::printf("shown: %s\n", qPrintable(window.windowTitle()));
            window.Exit1Click();
        });
    };
    const int code = quillon::run_application(argc, argv, usb, clock, options);
    std::printf("exit code: %d\n", code);
    return code;
}
