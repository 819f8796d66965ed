// quillon_bench: the performance figures, each printed with how it was measured.
//   quillon_bench [section...] [--quick]
// Sections: timer, load, download (with the log and save figures), startup; all by default.
#include "app/app_identity.h"
#include "app/quillon_application.h"
#include "sections.h"

#include <QDateTime>
#include <QSysInfo>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>

namespace {

QtMessageHandler g_next_handler = nullptr;

// The offscreen platform says so at every window shown; nothing else is hidden.
void drop_offscreen_notice(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QStringLiteral("propagateSizeHints"))) return;
    if (g_next_handler) g_next_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon::bench;
    if (argc > 1 && std::strcmp(argv[1], "--startup-child") == 0)
        return startup_child(argc, argv);

    Settings settings;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) settings.self = self;
    std::set<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            settings.download_runs = 1;
            settings.big_pane = 100000;
            settings.timed_lines = 500;
            settings.startup_runs = 3;
            settings.save_runs = 2;
            settings.load_runs = 5;
            settings.sleeps = 300;
        } else {
            wanted.insert(argv[i]);
        }
    }
    const auto run = [&](const char* name) { return wanted.empty() || wanted.count(name) > 0; };

    g_next_handler = qInstallMessageHandler(drop_offscreen_notice);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    quillon::QuillonApplication app(argc, argv);
    quillon::apply_identity(app);
    QApplication::setQuitOnLastWindowClosed(false);

    std::printf("Quillon benchmarks, %s, %s, Qt %s, platform %s, %ld cores\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)),
                qPrintable(QSysInfo::prettyProductName()), qVersion(),
                qPrintable(QGuiApplication::platformName()), sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);

    if (run("timer")) timer_section(settings);
    std::fflush(stdout);
    if (run("load")) load_image_section(settings);
    std::fflush(stdout);
    if (run("startup")) startup_section(settings);
    std::fflush(stdout);
    if (run("download")) window_sections(settings);
    std::fflush(stdout);
    return 0;
}
