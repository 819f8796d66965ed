// The program's own code on the real libusb-0.1 and the real clock, run by the end-to-end
// tests under usbfs-bridge. It writes what happened to a report file: every log line as
// "log <line>" and every result as "fact <name> <value>".
//
//   e2e_client REPORT reset                   File > Reset Instrument in the headless window
//   e2e_client REPORT download IMAGE          File > Open in the headless window, IMAGE chosen
//   e2e_client REPORT open [verbose]          one open_instrument()
//   e2e_client REPORT open-later MS           open_instrument(), MS ms later another one
//   e2e_client REPORT restart                 open, CMD_RESTART, close, 1000 ms, open again
//   e2e_client REPORT read-back ADDRESS LEN   open, then get_usb_md() of LEN bytes
#include "app/log_pane.h"
#include "app/main_form.h"
#include "link/command_channel.h"
#include "link/instrument_link.h"
#include "link/libusb_api.h"
#include "link/progress_log.h"
#include "link/system_clock.h"
#include "sim/virtual_clock.h"

#include <QApplication>
#include <QFileDialog>
#include <QTextBlock>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillon;

class Report {
public:
    explicit Report(const std::string& path) : out_(path, std::ios::trunc) {}
    void line(std::string_view text) { out_ << "log " << escaped(text) << '\n'; }
    void fact(const std::string& name, const std::string& value) {
        out_ << "fact " << name << ' ' << escaped(value) << '\n';
    }
    void fact(const std::string& name, long value) { fact(name, std::to_string(value)); }
    bool ok() const { return static_cast<bool>(out_); }

private:
    // Log lines are 8-bit strings; only the report's own separators need escaping.
    static std::string escaped(std::string_view text) {
        std::string out;
        for (char c : text) {
            if (c == '\\') out += "\\\\";
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else out += c;
        }
        return out;
    }
    std::ofstream out_;
};

// The log straight into the report, for the commands that have no window.
class ReportLog final : public LogSink {
public:
    explicit ReportLog(Report& report) : report_(report), scope_(*this) {}
    void append_line(std::string_view line) override { report_.line(line); }
    void repaint() override {}

private:
    Report& report_;
    ScopedLogSink scope_;
};

std::string hex(const unsigned char* bytes, std::size_t n) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Runs a menu command of the real window, with the firmware chooser answered by `image`.
int window_command(int argc, char** argv, Report& report, bool download, const std::string& image) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    LibUsbApi usb;
    SystemClock system;
    sim::RecordingClock clock(system);  // counts the waits the program itself makes
    InstrumentLink link(usb, clock);
    TMainForm form(link);
    MainForm = &form;

    // The user picks the image: only the dialog is bypassed, the window's code runs as is.
    int choosers = 0;
    QTimer chooser;
    chooser.setInterval(2);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        ++choosers;
        dialog->selectFile(QString::fromLocal8Bit(image.c_str()));
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    });
    chooser.start();

    std::int64_t wall_us = 0;
    QTimer::singleShot(0, [&] {
        const std::int64_t start = system.now_us();
        if (download) {
            form.Open1Click();
        } else {
            form.Arm_reset();
        }
        wall_us = system.now_us() - start;
        app.quit();
    });
    app.exec();

    for (QTextBlock block = form.RichEdit1->document()->firstBlock(); block.isValid();
         block = block.next()) {
        report.line(block.text().toLatin1().toStdString());
    }
    report.fact("choosers", choosers);
    report.fact("wall_us", static_cast<long>(wall_us));
    report.fact("waits_ms", static_cast<long>(clock.total_ms()));
    MainForm = nullptr;
    return 0;
}

int open_scenarios(Report& report, const std::vector<std::string>& args) {
    ReportLog log(report);
    LibUsbApi usb;
    SystemClock clock;
    InstrumentLink link(usb, clock);
    const std::string& scenario = args.at(0);

    auto devnum = [&] {
        return link.usb_handle() ? static_cast<long>(usb_device(link.usb_handle())->devnum) : -1L;
    };

    if (scenario == "open") {
        link.set_verbose(args.size() > 1 && args[1] == "verbose");
        report.fact("result", link.open_instrument());
        report.fact("max_packet_size", link.max_packet_size());
    } else if (scenario == "open-later") {
        report.fact("first", link.open_instrument());
        link.close_instrument();
        clock.sleep_ms(std::atoi(args.at(1).c_str()));
        report.fact("second", link.open_instrument());
    } else if (scenario == "restart") {
        report.fact("first", link.open_instrument());
        report.fact("devnum_before", devnum());
        report.fact("restart", send_command(usb, link.usb_handle(), make_command(CMD_RESTART),
                                            SHORT_BLOCK, RESTART_TIMEOUT_MS));
        link.close_instrument();
        clock.sleep_ms(1000);
        report.fact("second", link.open_instrument());
        report.fact("devnum_after", devnum());
    } else if (scenario == "read-back") {
        const auto address =
            static_cast<std::uint32_t>(std::strtoul(args.at(1).c_str(), nullptr, 0));
        const int length = std::atoi(args.at(2).c_str());
        report.fact("result", link.open_instrument());
        std::vector<unsigned char> buffer(static_cast<std::size_t>(length), 0);
        get_usb_md(link, link.usb_handle(), buffer.data(), address, length);
        report.fact("bytes", hex(buffer.data(), buffer.size()));
    } else {
        std::fprintf(stderr, "e2e_client: unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    link.close_instrument();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_client REPORT SCENARIO [ARGS...]\n");
        return 2;
    }
    if (std::getenv("UMOCKDEV_DIR") == nullptr) {
        std::fprintf(stderr, "e2e_client: run me under usbfs-bridge\n");
        return 2;
    }
    Report report(argv[1]);
    const std::vector<std::string> args(argv + 2, argv + argc);
    int status = 0;
    if (args[0] == "reset") {
        status = window_command(argc, argv, report, false, {});
    } else if (args[0] == "download" && args.size() > 1) {
        status = window_command(argc, argv, report, true, args[1]);
    } else {
        status = open_scenarios(report, args);
    }
    return report.ok() ? status : 3;
}
