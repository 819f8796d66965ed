#pragma once
// The program's main window, unchanged, with stop-watches around the calls the download
// makes of it, and a user who picks the image in the chooser as soon as it shows.
#include "app/main_form.h"

#include <QString>

#include <vector>

namespace quillon::bench {

class BenchWindow final : public TMainForm {
public:
    // `image_name` is typed into the chooser, which opens in `image_folder`.
    BenchWindow(InstrumentLink& link, const QString& image_folder, const QString& image_name);

    // Shows the window and returns once it is on the (offscreen) screen.
    void show_and_wait_exposed();

    std::optional<std::string> choose_image_file() override;
    void dispatch_pending_events() override;
    using TMainForm::repaint;
    void repaint() override;

    double chooser_us = 0;                 // the chooser, from the call until it returned
    std::vector<double> dispatch_us;       // each dispatch of pending events
    std::vector<double> repaint_us;        // each repaint of the log pane

private:
    QString image_name_;
};

}  // namespace quillon::bench
