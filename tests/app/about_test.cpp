#include "about/t518df_about.h"
#include "app_fixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace quillon::testing {
namespace {

using AboutTest = AppFixture;

TEST_F(AboutTest, BoxShowsItsDesignedComponentsAndTexts) {
    TForm1 box(link);
    EXPECT_EQ(box.windowTitle(), "About Zorvik DownLoad File to TR-518 or TR-760");
    EXPECT_EQ(box.size(), QSize(414 - 16, 226 - 38));
    EXPECT_EQ(box.pos(), QPoint(443, 406));

    struct Component {
        QWidget* widget;
        QRect designed;
        QString text;
    };
    const Component components[] = {
        {box.Image1, QRect(32, 24, 33, 33), ""},
        {box.Label1, QRect(88, 32, 273, 13), "Quillon_760.exe will download code to a TR-518 or TR-760."},
        {box.Label2, QRect(80, 56, 290, 13), "Version 1.007  (C) 2024 Quillon Instruments"},
        {box.Label3, QRect(176, 80, 69, 13), "802-555-0147"},
        {box.Label4, QRect(144, 104, 123, 13), "Burlington, VT, USA"},
        {box.Button1, QRect(168, 136, 75, 25), "OK"},
        {box.CheckBox1, QRect(272, 104, 17, 17), "Verbose"},
    };
    for (const Component& c : components) {
        const std::string name = c.widget->objectName().toStdString();
        if (auto* label = qobject_cast<QLabel*>(c.widget)) {
            EXPECT_EQ(label->text(), c.text) << name;
            // A label keeps its place and grows to the right when its text needs more room.
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            EXPECT_EQ(label->geometry(), QRect(c.designed.topLeft(), QSize(std::max(c.designed.width(), label->sizeHint().width()), c.designed.height()))) << name;
            EXPECT_LE(needed, label->width()) << name;
            EXPECT_LE(label->geometry().right(), box.width()) << name;
        } else {
            EXPECT_EQ(c.widget->geometry(), c.designed) << name;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
            EXPECT_EQ(button->text(), c.text) << name;
        }
    }
    ASSERT_NE(box.Image1->pixmap().isNull(), true);
    EXPECT_EQ(box.Image1->pixmap().size(), QSize(32, 32));
    EXPECT_TRUE(box.isModal());
}

enum class CloseBy { Button, CloseControl };

struct LevelCase {
    bool verbose;
    CloseBy close_by;
};

void PrintTo(const LevelCase& c, std::ostream* out) {
    *out << (c.verbose ? "verbose" : "quiet") << ", closed by "
         << (c.close_by == CloseBy::Button ? "OK" : "the close control");
}

class AboutLevelTest : public AppFixture, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(AboutLevelTest, ShowsTheLevelAndLeavesItUnchangedWhenClosed) {
    const LevelCase c = GetParam();
    link.set_verbose(c.verbose);
    const int level = link.verbosity();
    QPointer<TForm1> shown;
    dialogs.expect<TForm1>([&](TForm1& box) {
        shown = &box;
        EXPECT_EQ(Form1, &box);
        EXPECT_EQ(box.CheckBox1->isChecked(), c.verbose);
        EXPECT_EQ(link.verbosity(), level);
        EXPECT_EQ(box.focusWidget(), box.Button1);
        QTest::keyClick(box.Button1, Qt::Key_Tab);
        EXPECT_EQ(box.focusWidget(), box.CheckBox1);
        if (c.close_by == CloseBy::Button)
            box.Button1->click();
        else
            box.close();
        EXPECT_EQ(box.result(), QDialog::Rejected);
    });
    window->About1Click();

    EXPECT_TRUE(dialogs.all_answered());
    EXPECT_EQ(link.verbosity(), level);
    EXPECT_TRUE(shown.isNull());  // destroyed when it closed
    EXPECT_EQ(Form1, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Levels, AboutLevelTest,
                         ::testing::Values(LevelCase{false, CloseBy::Button},
                                           LevelCase{true, CloseBy::Button},
                                           LevelCase{false, CloseBy::CloseControl},
                                           LevelCase{true, CloseBy::CloseControl}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                             return std::string(info.param.verbose ? "Verbose" : "Quiet") +
                                    (info.param.close_by == CloseBy::Button ? "ClosedByOk"
                                                                            : "ClosedByCloseControl");
                         });

class AboutSwitchTest : public AppFixture {
protected:
    void set_box(bool ticked) {
        dialogs.expect<TForm1>([ticked](TForm1& box) {
            if (box.CheckBox1->isChecked() != ticked) box.CheckBox1->click();
            box.Button1->click();
        });
        window->About1Click();
    }
    // The lines of one reset of the simulated instrument.
    std::vector<std::string> reset_lines() {
        const std::size_t before = pane_lines(*window->RichEdit1).size();
        window->Arm_reset();
        clock.sleep_ms(5000);  // let the instrument come back on the bus
        const std::vector<std::string> all = pane_lines(*window->RichEdit1);
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    static bool has(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(AboutSwitchTest, TickingAndClearingSwitchTheDiagnosticLinesOfTheNextOperation) {
    usb.add_bus();
    usb.add_instrument(0);

    const std::vector<std::string> quiet = reset_lines();
    EXPECT_TRUE(has(quiet, "Instrument opened.")) << quiet.size();
    EXPECT_FALSE(has(quiet, "Begin USB transfer."));

    set_box(true);
    EXPECT_EQ(link.verbosity(), VERBOSITY_VERBOSE);
    const std::vector<std::string> verbose = reset_lines();
    EXPECT_TRUE(has(verbose, "Begin USB transfer."));
    EXPECT_TRUE(has(verbose, "Configuration OK"));

    set_box(false);
    EXPECT_EQ(link.verbosity(), VERBOSITY_QUIET);
    const std::vector<std::string> quiet_again = reset_lines();
    EXPECT_FALSE(has(quiet_again, "Begin USB transfer."));
    EXPECT_FALSE(has(quiet_again, "Configuration OK"));
}

}  // namespace
}  // namespace quillon::testing
