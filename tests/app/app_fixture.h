#pragma once
// A shown main window on a simulated bus and virtual time, and a scratch folder; the
// working directory is put back afterwards, since the file dialogs change it.
#include "app/log_pane.h"
#include "app/log_text.h"
#include "app/main_form.h"
#include "dialog_answers.h"
#include "link/instrument_link.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillon::testing {

// The pane's paragraphs as the bytes they stand for.
inline std::vector<std::string> pane_lines(const LogPane& pane) {
    std::vector<std::string> lines;
    if (pane.line_count() == 0) return lines;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next())
        lines.push_back(from_pane_text(block.text()).toStdString());
    return lines;
}

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.isValid());
        window = std::make_unique<TMainForm>(link, MainFormOptions{scratch.path()});
        window->show();
    }
    void TearDown() override {
        window.reset();
        QDir::setCurrent(start_folder);
    }

    QString scratch_path(const QString& name) const { return scratch.filePath(name); }

    const QString start_folder = QDir::currentPath();
    QTemporaryDir scratch;
    sim::VirtualClock clock;
    sim::SimUsb usb{clock};
    InstrumentLink link{usb, clock};
    DialogAnswers dialogs;
    std::unique_ptr<TMainForm> window;
};

}  // namespace quillon::testing
