#pragma once
// The benchmark's sections, in the order the driver runs them. Each prints its figures.
#include <string>

namespace quillon::bench {

struct Settings {
    int download_runs = 5;          // whole downloads on an empty pane, and as many on the big one
    int big_pane = 1000000;         // lines in the big pane
    int timed_lines = 2000;         // log_line + repaint_log calls timed at each size
    int startup_runs = 15;
    int save_runs = 5;
    int load_runs = 50;
    int sleeps = 2000;              // 1 ms sleeps per kind in the timer section
    std::string self;               // this program, for the start-up's child processes
};

void timer_section(const Settings& settings);
void load_image_section(const Settings& settings);
void startup_section(const Settings& settings);
// The log at growing sizes, saving the largest log, and downloads on an empty pane and on
// the largest one, in turns.
void window_sections(const Settings& settings);

// The start-up's child: builds the program's window, prints when it was first painted.
int startup_child(int argc, char** argv);

}  // namespace quillon::bench
