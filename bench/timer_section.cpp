// How long a wait of 1 ms really lasts: a plain relative sleep at the default timer slack
// (50 us), the same at 1 ns of slack, sleeping short of the deadline and polling the clock
// for the rest, and SystemClock::sleep_ms(1) as the program has it.
// Interleaved in blocks so that the kinds share the machine's moods.
#include "link/system_clock.h"
#include "monotonic.h"
#include "samples.h"
#include "sections.h"

#include <sys/prctl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace quillon::bench {
namespace {

void plain_sleep_1ms() {
    timespec ts{0, 1000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

// Sleeps to `margin_ns` before the deadline, then polls the clock up to it.
void sleep_then_spin_1ms(std::int64_t margin_ns) {
    const std::int64_t deadline = monotonic_ns() + 1000000;
    const std::int64_t wake = deadline - margin_ns;
    timespec ts{static_cast<time_t>(wake / 1000000000), static_cast<long>(wake % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
    while (monotonic_ns() < deadline) {
    }
}

double thread_cpu_us() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

struct SleepKind {
    Samples overshoot_us;
    Samples cpu_us;  // CPU time the thread used per wait
};

template <typename Sleep>
void measure(SleepKind& into, int count, Sleep sleep) {
    for (int i = 0; i < count; ++i) {
        const double cpu = thread_cpu_us();
        const std::int64_t start = monotonic_ns();
        sleep();
        into.overshoot_us.add(us_since(start) - 1000.0);
        into.cpu_us.add(thread_cpu_us() - cpu);
    }
}

}  // namespace

void timer_section(const Settings& settings) {
    const auto original_slack = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    SleepKind default_slack, fine_slack, spin_50, spin_100, system_clock;
    unsigned long slack_under_clock = 0;
    constexpr int BLOCK = 100;
    for (int done = 0; done < settings.sleeps; done += BLOCK) {
        prctl(PR_SET_TIMERSLACK, 50000UL, 0, 0, 0);
        measure(default_slack, BLOCK, plain_sleep_1ms);
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        measure(fine_slack, BLOCK, plain_sleep_1ms);
        measure(spin_50, BLOCK, [] { sleep_then_spin_1ms(50000); });
        measure(spin_100, BLOCK, [] { sleep_then_spin_1ms(100000); });
        // The thread as the program's start-up leaves it: its own slack, then the clock.
        prctl(PR_SET_TIMERSLACK, original_slack, 0, 0, 0);
        SystemClock clock;
        slack_under_clock = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
        measure(system_clock, BLOCK, [&] { clock.sleep_ms(1); });
    }
    prctl(PR_SET_TIMERSLACK, original_slack, 0, 0, 0);

    std::printf("\n== Timer: what a 1 ms wait costs beyond 1 ms\n");
    std::printf("   %d sleeps of each kind, in interleaved blocks of %d; overshoot = measured "
                "duration - 1000 us (CLOCK_MONOTONIC)\n",
                settings.sleeps, BLOCK);
    std::printf("   thread timer slack at start: %lu ns; after SystemClock was built: %lu ns\n",
                original_slack, slack_under_clock);
    const auto show = [](const char* name, const SleepKind& kind) {
        std::printf("   %-36s %s\n", name, kind.overshoot_us.spread("us").c_str());
        std::printf("   %-36s CPU per wait median %.1f us; over 4096 waits at the mean %.0f ms\n", "",
                    kind.cpu_us.median(),
                    kind.overshoot_us.sum() / static_cast<double>(kind.overshoot_us.size()) * 4096 / 1000);
    };
    show("clock_nanosleep 1 ms, slack 50 us", default_slack);
    show("clock_nanosleep 1 ms, slack 1 ns", fine_slack);
    show("slack 1 ns, sleep to -50 us, spin", spin_50);
    show("slack 1 ns, sleep to -100 us, spin", spin_100);
    show("SystemClock::sleep_ms(1)", system_clock);
    std::printf("   floor: 0 (a wait never ends early: min above is >= 0)\n");
}

}  // namespace quillon::bench
