// Start-up to the first painted window: the program's own start-up (run_application) in a
// fresh process, on the simulated bus, until the log pane has been painted and flushed.
#include "app/app_main.h"
#include "app/log_pane.h"
#include "link/system_clock.h"
#include "monotonic.h"
#include "samples.h"
#include "sections.h"
#include "sim/sim_usb.h"

#include <QEvent>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>

extern char** environ;

namespace quillon::bench {
namespace {

// Notes the first paint of the pane, then stamps the time once that paint has been
// flushed and control is back in the event loop, and closes the window.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(TMainForm& window) : window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, &window_, [this] {
                std::printf("painted_ns %" PRId64 "\n", monotonic_ns());
                std::fflush(stdout);
                window_.close();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TMainForm& window_;
    bool seen_ = false;
};

struct ChildTimes {
    std::int64_t main_ns = 0;
    std::int64_t painted_ns = 0;
};

bool run_child(const std::string& self, ChildTimes& times, std::int64_t& spawned_ns) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string arg = "--startup-child";
    char* argv[] = {const_cast<char*>(self.c_str()), arg.data(), nullptr};
    pid_t pid = 0;
    spawned_ns = monotonic_ns();
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return false;
    }
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::sscanf(text.c_str(), "main_ns %" SCNd64 " painted_ns %" SCNd64, &times.main_ns,
                &times.painted_ns);
    return WIFEXITED(status) && times.main_ns > 0 && times.painted_ns > 0;
}

}  // namespace

int startup_child(int argc, char** argv) {
    std::printf("main_ns %" PRId64 "\n", monotonic_ns());
    SystemClock clock;
    sim::SimUsb usb(clock);
    StartupOptions options;
    options.on_window_built = [](TMainForm& window) {
        auto* probe = new FirstPaint(window);
        probe->setParent(&window);
        window.RichEdit1->viewport()->installEventFilter(probe);
    };
    return run_application(argc, argv, usb, clock, options);
}

void startup_section(const Settings& settings) {
    Samples exec_to_paint_ms, main_to_paint_ms;
    int failed = 0;
    for (int i = 0; i < settings.startup_runs + 1; ++i) {
        ChildTimes times;
        std::int64_t spawned_ns = 0;
        if (!run_child(settings.self, times, spawned_ns)) {
            ++failed;
            continue;
        }
        if (i == 0) continue;  // loads the libraries into the page cache
        exec_to_paint_ms.add(static_cast<double>(times.painted_ns - spawned_ns) / 1e6);
        main_to_paint_ms.add(static_cast<double>(times.painted_ns - times.main_ns) / 1e6);
    }

    std::printf("\n== Start-up to the first painted window (offscreen)\n");
    std::printf("   %d fresh processes after one warm-up: run_application on the simulated bus,"
                " stopped when the log pane's first paint is flushed\n",
                settings.startup_runs);
    std::printf("   spawn -> first paint                %s\n",
                exec_to_paint_ms.spread("ms", 1, 1).c_str());
    std::printf("   main() -> first paint               %s\n",
                main_to_paint_ms.spread("ms", 1, 1).c_str());
    if (failed > 0) std::printf("   !! %d child runs failed\n", failed);
}

}  // namespace quillon::bench
