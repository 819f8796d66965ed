#include "app/app_identity.h"
#include "app/status_bar.h"
#include "app_fixture.h"
#include "link/progress_log.h"
#include "support/line_diff.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTest>

#include <algorithm>

namespace quillon::testing {
namespace {

using MainFormTest = AppFixture;

TEST_F(MainFormTest, StartsQuietWithEmptyPaneAndUsbStatusAndNoLink) {
    window.reset();
    link.set_verbose(true);
    window = std::make_unique<TMainForm>(link);
    window->show();

    EXPECT_EQ(window->windowTitle(), "Transfer Code to TR-518 or TR-760");
    EXPECT_EQ(QApplication::applicationName(), "Quillon Download Code to TR-518");
    EXPECT_EQ(link.verbosity(), VERBOSITY_QUIET);
    EXPECT_EQ(window->RichEdit1->line_count(), 0);
    EXPECT_TRUE(window->RichEdit1->document()->isEmpty());
    EXPECT_EQ(window->StatusBar1->panel_text(0), "USB    ");
    EXPECT_EQ(window->StatusBar1->panel_text(1), "");
    EXPECT_EQ(link.usb_handle(), nullptr);
    EXPECT_TRUE(usb.calls().empty());
    EXPECT_FALSE(window->terminating());
}

TEST_F(MainFormTest, ClientAreaPaneAndStatusBarAreLaidOutAsDesigned) {
    EXPECT_EQ(window->centralWidget(), window->RichEdit1);
    EXPECT_EQ(window->RichEdit1->size(), QSize(910, 464));
    EXPECT_EQ(window->StatusBar1->geometry(), QRect(0, window->RichEdit1->geometry().bottom() + 1, 910, 19));
    EXPECT_TRUE(window->StatusBar1->isSizeGripEnabled());
    EXPECT_FALSE(window->windowIcon().isNull());
    for (int size : {16, 32, 48, 256})
        EXPECT_EQ(window->windowIcon().pixmap(size, size).width(), size) << size;

    const LogPane& pane = *window->RichEdit1;
    EXPECT_EQ(pane.font().pixelSize(), 13);
    EXPECT_TRUE(pane.font().bold());
    EXPECT_EQ(QFontInfo(pane.font()).family(), "Liberation Mono");  // metric twin of Courier New
    EXPECT_EQ(pane.palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_FALSE(pane.isReadOnly());
    EXPECT_EQ(pane.lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(pane.verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(pane.horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_FALSE(pane.verticalScrollBar()->isVisible());
    EXPECT_FALSE(pane.horizontalScrollBar()->isVisible());
}

TEST_F(MainFormTest, MenuHasItsCaptionsAccessKeysAndSeparatorAndNoShortcuts) {
    struct Item {
        QAction* action;
        const char* caption;
    };
    const std::vector<std::pair<QMenu*, std::vector<Item>>> menus = {
        {window->File2,
         {{window->Open1, "&Open"},
          {window->ResetTR5181, "Reset Instrument"},
          {window->Save1, "&Save"},
          {window->N2, ""},
          {window->Exit2, "E&xit"}}},
        {window->Help1, {{window->About1, "&About..."}}},
    };
    const QList<QAction*> bar = window->MainMenu1->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[1]->text(), "&Help");
    for (const auto& [menu, items] : menus) {
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(items.size()));
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(actions[i], items[i].action) << i;
            EXPECT_EQ(actions[i]->text(), items[i].caption);
            EXPECT_EQ(actions[i]->isSeparator(), items[i].action == window->N2);
            EXPECT_TRUE(actions[i]->shortcut().isEmpty());
            EXPECT_TRUE(actions[i]->isEnabled());
        }
    }
}

TEST_F(MainFormTest, StatusPanelZeroKeepsHundredPixelsForTheLastPanel) {
    const StatusBar& bar = *window->StatusBar1;
    EXPECT_EQ(bar.panel_width(0), 910 - 100);
    for (int width : {1280, 926, 700, 450}) {
        window->resize(width, window->height());
        QApplication::processEvents();
        ASSERT_EQ(bar.width(), width);
        EXPECT_EQ(bar.panel_width(0), width - 100) << width;
        EXPECT_EQ(bar.panel_rect(0), QRect(0, 0, width - 100, 19)) << width;
        EXPECT_EQ(bar.panel_rect(1), QRect(width - 100, 0, 100, 19)) << width;
    }
}

TEST(StatusBarRule, NarrowBarsLeavePanelZeroEmptyAndTheLastPanelTheRest) {
    struct Case {
        int bar_width;
        QRect panel_0;
        QRect panel_1;
    };
    const Case cases[] = {
        {150, QRect(0, 0, 50, 19), QRect(50, 0, 100, 19)},
        {101, QRect(0, 0, 1, 19), QRect(1, 0, 100, 19)},
        {100, QRect(), QRect(0, 0, 100, 19)},
        {60, QRect(), QRect(0, 0, 60, 19)},
    };
    StatusBar bar(2);
    for (const Case& c : cases) {
        bar.setFixedSize(c.bar_width, 19);
        bar.set_panel_width(0, c.bar_width - 100);
        EXPECT_EQ(bar.panel_rect(0), c.panel_0) << c.bar_width;
        EXPECT_EQ(bar.panel_rect(1), c.panel_1) << c.bar_width;
    }
}

TEST_F(MainFormTest, ExitClosesAtOnceWithoutAQuestion) {
    window->Exit2->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->terminating());
    QApplication::processEvents();  // an unexpected question would be answered here as a failure
}

TEST_F(MainFormTest, ClosingWithAnOpenLinkReleasesInterfaceOneAndClosesTheHandle) {
    usb.add_bus();
    usb.add_instrument(0);
    ASSERT_EQ(link.open_instrument(), OPEN_OK);
    ASSERT_EQ(usb.claimed_interfaces(), 1);
    usb.clear_calls();

    window->close();
    window.reset();

    EXPECT_EQ(usb.claimed_interfaces(), 0);
    EXPECT_EQ(usb.open_handles(), 0);
    EXPECT_EQ(link.usb_handle(), nullptr);
    const std::vector<sim::Call>& calls = usb.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "usb_release_interface");
    EXPECT_EQ(calls[0].args, std::vector<long>{1});
    EXPECT_EQ(calls[1].name, "usb_close");
}

TEST_F(MainFormTest, LinesGoAfterEverythingWhereverTheCaretIsAndWhateverWasTyped) {
    log_line("first");
    QTextCursor caret = window->RichEdit1->textCursor();
    caret.movePosition(QTextCursor::Start);
    window->RichEdit1->setTextCursor(caret);
    QTest::keyClicks(window->RichEdit1, "X");
    log_line("second");
    caret.movePosition(QTextCursor::End);
    window->RichEdit1->setTextCursor(caret);
    QTest::keyClicks(window->RichEdit1, "typed");
    log_line("");
    log_line(" ");
    log_line("third");

    EXPECT_TRUE(SameLines({"Xfirst", "secondtyped", "", " ", "third"},
                          pane_lines(*window->RichEdit1)));
}

TEST_F(MainFormTest, EmptyLinesCountFromAnEmptyPane) {
    log_line("");
    log_line("");
    EXPECT_TRUE(SameLines({"", ""}, pane_lines(*window->RichEdit1)));
}

TEST_F(MainFormTest, BytesShowAsTheirLatin1Characters) {
    std::string all;
    for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>(b));
    log_line(all.c_str());

    ASSERT_EQ(window->RichEdit1->line_count(), 1);
    const QString shown = window->RichEdit1->document()->firstBlock().text();
    ASSERT_EQ(shown.size(), 255);
    for (int b = 1; b <= 255; ++b) {
        const char16_t expected = b == '\n' ? u'\u240A' : b == '\r' ? u'\u240D' : char16_t(b);
        EXPECT_EQ(shown[b - 1].unicode(), expected) << "byte " << b;
    }
}

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_F(MainFormTest, RepaintLogPaintsThePaneAndDispatchesNothingElse) {
    QApplication::processEvents();
    PaintCounter pane(window->RichEdit1->viewport());

    bool timer_ran = false;
    QTimer::singleShot(0, [&] { timer_ran = true; });
    bool posted_ran = false;
    QMetaObject::invokeMethod(window.get(), [&] { posted_ran = true; }, Qt::QueuedConnection);

    log_line("painted now");
    repaint_log();

    EXPECT_GE(pane.paints, 1);
    EXPECT_FALSE(timer_ran);
    EXPECT_FALSE(posted_ran);
    QApplication::processEvents();
    EXPECT_TRUE(posted_ran);
}

TEST_F(MainFormTest, UsbStatusIsPaintedAtOnce) {
    QApplication::processEvents();
    PaintCounter bar(window->StatusBar1);
    window->show_usb_status();
    EXPECT_GE(bar.paints, 1);
    EXPECT_EQ(window->StatusBar1->panel_text(0), "USB    ");
}

TEST_F(MainFormTest, ViewFollowsNewLinesWhileAtTheBottomAndShowsItsScrollBarWhenNeeded) {
    QScrollBar* bar = window->RichEdit1->verticalScrollBar();
    for (int i = 0; i < 200; ++i) log_line("line");
    repaint_log();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    log_line("seen when the event loop runs again");
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(0);  // the user scrolls up to read
    log_line("more");
    repaint_log();
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(MainFormTest, ImageChooserOffersBinaryFilesFromItsFolderAndEntersTheChosenFolder) {
    const QString chosen = scratch_path("image.bin");
    dialogs.expect<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(&dialog, window->OpenDialog1);
        EXPECT_EQ(dialog.nameFilters(), QStringList{"Binary Files (*.bin)"});
        EXPECT_EQ(dialog.selectedNameFilter(), "Binary Files");  // shown without its pattern
        EXPECT_EQ(dialog.directory().absolutePath(), QDir(scratch.path()).absolutePath());
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        type_file_name(dialog, "image.bin");
        accept(dialog);
    });
    const std::optional<std::string> path = window->choose_image_file();

    ASSERT_TRUE(path);
    EXPECT_EQ(*path, chosen.toStdString());  // a typed name need not exist
    EXPECT_EQ(QDir::currentPath(), QDir(scratch.path()).absolutePath());

    dialogs.expect<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(window->choose_image_file());
}

TEST_F(MainFormTest, ImageChooserFallsBackToHomeWhenItsFolderIsMissing) {
    window.reset();
    window = std::make_unique<TMainForm>(link, MainFormOptions{scratch_path("gone")});
    dialogs.expect<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.directory().absolutePath(), QDir::home().absolutePath());
        dialog.reject();
    });
    EXPECT_FALSE(window->choose_image_file());
}

TEST_F(MainFormTest, CommandsThatCouldNestStayDisabledWhileADownloadRuns) {
    usb.add_bus();
    usb.add_instrument(0);
    const std::vector<QAction*> guarded = {window->Open1, window->ResetTR5181, window->Save1,
                                           window->About1};
    dialogs.expect<QFileDialog>([&](QFileDialog& dialog) {
        for (QAction* item : guarded) EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
        EXPECT_TRUE(window->Exit2->isEnabled());
        dialog.reject();
    });
    window->Open1->trigger();

    EXPECT_TRUE(dialogs.all_answered());
    for (QAction* item : guarded) EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
}

TEST_F(MainFormTest, ClosingDuringTheTransferEndsTheDownloadAndTheWindowClosesTheLink) {
    usb.add_bus();
    usb.add_instrument(0).set_power_button(true);
    QFile image(scratch_path(QStringLiteral("image.bin")));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(10'001, '\x5A'));
    image.close();

    dialogs.expect<QFileDialog>([&](QFileDialog& dialog) {
        type_file_name(dialog, QStringLiteral("image.bin"));
        accept(dialog);
        // Delivered with the first events that the transfer lets through.
        QMetaObject::invokeMethod(window.get(), [this] { window->Exit1Click(); },
                                  Qt::QueuedConnection);
    });
    window->Open1->trigger();

    EXPECT_TRUE(dialogs.all_answered());
    const std::vector<std::string> lines = pane_lines(*window->RichEdit1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Writing flash.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Leaving OPEN"), 0);
    EXPECT_EQ(usb.calls_named("usb_bulk_write").size(), 1u);
    EXPECT_EQ(usb.claimed_interfaces(), 1) << "the download left the link to the window";

    window.reset();
    EXPECT_EQ(usb.claimed_interfaces(), 0);
    EXPECT_EQ(usb.open_handles(), 0);
}

}  // namespace
}  // namespace quillon::testing
