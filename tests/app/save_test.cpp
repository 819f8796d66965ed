#include "app/error_box.h"
#include "app_fixture.h"
#include "link/progress_log.h"
#include "support/line_diff.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>

#include <unistd.h>

namespace quillon::testing {
namespace {

QByteArray read_file(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

class SaveTest : public AppFixture {
protected:
    // Answers the save dialog with `name`, typed into the scratch folder.
    void answer_save_with(const QString& name) {
        dialogs.expect<QFileDialog>([this, name](QFileDialog& dialog) {
            EXPECT_EQ(&dialog, window->SaveDialog1);
            EXPECT_EQ(dialog.directory().absolutePath(), QDir::currentPath());
            dialog.setDirectory(scratch.path());
            type_file_name(dialog, name);
            accept(dialog);
        });
    }
    void answer_error_box(QString* text) {
        dialogs.expect<QMessageBox>([text](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), "Quillon Download Code to TR-518");
            EXPECT_EQ(box.icon(), QMessageBox::Critical);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
            *text = box.text();
            box.button(QMessageBox::Ok)->click();
        });
    }
    void answer_replace(bool replace) {
        dialogs.expect<QMessageBox>([replace](QMessageBox& box) {
            box.button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
        });
    }
    std::vector<std::string> lines() const { return pane_lines(*window->RichEdit1); }
};

TEST_F(SaveTest, DialogOffersTextAndAllFilesWithCsvAsDefaultAndAsksBeforeReplacing) {
    dialogs.expect<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters(),
                  (QStringList{"Text Files (.csv, .txt, .dat) (*.csv *.dat *.txt)", "All Files (*)"}));
        EXPECT_EQ(dialog.selectedNameFilter(), "Text Files (.csv, .txt, .dat)");  // shown without patterns
        EXPECT_EQ(dialog.defaultSuffix(), "CSV");
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
        EXPECT_TRUE(dialog.isSizeGripEnabled());
        EXPECT_EQ(dialog.directory().absolutePath(), QDir::currentPath());
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(), "");
        dialog.reject();
    });
    window->Save1Click();
}

TEST_F(SaveTest, SavedFileReadsBackAsThePaneWithCrLfAfterEveryLine) {
    log_line("Instrument opened.");
    log_line("");
    log_line(" ");
    QTextCursor caret = window->RichEdit1->textCursor();
    caret.movePosition(QTextCursor::End);
    window->RichEdit1->setTextCursor(caret);
    QTest::keyClicks(window->RichEdit1, " typed");
    log_line("Leaving OPEN");
    const std::vector<std::string> before = lines();

    answer_save_with("log.csv");
    window->Save1Click();

    EXPECT_EQ(read_file(scratch_path("log.csv")),
              QByteArray("Instrument opened.\r\n\r\n  typed\r\nLeaving OPEN\r\n"));
    EXPECT_TRUE(SameLines(before, lines()));  // nothing logged, nothing changed
    EXPECT_EQ(QDir::currentPath(), QDir(scratch.path()).absolutePath());
}

TEST_F(SaveTest, EveryByteFromOneToFfRoundTripsUnchanged) {
    std::string all;
    for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>(b));
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) high.push_back(static_cast<char>(b));
    log_line(all.c_str());
    log_line(high.c_str());

    answer_save_with("bytes.csv");
    window->Save1Click();

    EXPECT_EQ(read_file(scratch_path("bytes.csv")).toStdString(), all + "\r\n" + high + "\r\n");
}

TEST_F(SaveTest, NameWithoutExtensionGainsCsv) {
    log_line("x");
    answer_save_with("session");
    window->Save1Click();

    EXPECT_EQ(read_file(scratch_path("session.CSV")), QByteArray("x\r\n"));
    EXPECT_FALSE(QFile::exists(scratch_path("session")));
}

TEST_F(SaveTest, EmptyLogGivesAnEmptyFile) {
    answer_save_with("empty.csv");
    window->Save1Click();
    EXPECT_EQ(read_file(scratch_path("empty.csv")), QByteArray(""));
}

TEST_F(SaveTest, CancelWritesNothingAndLogsNothing) {
    log_line("kept");
    dialogs.expect<QFileDialog>([this](QFileDialog& dialog) {
        type_file_name(dialog, scratch_path("never.csv"));
        dialog.reject();
    });
    window->Save1Click();

    EXPECT_TRUE(QDir(scratch.path()).isEmpty());
    EXPECT_TRUE(SameLines({"kept"}, lines()));
}

TEST_F(SaveTest, ReplacingAFileAsksFirstAndDecliningReturnsToTheDialog) {
    QFile old(scratch_path("old.csv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();
    log_line("new");

    answer_save_with("old.csv");
    answer_replace(false);
    dialogs.expect<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });  // still open
    window->Save1Click();
    EXPECT_EQ(read_file(scratch_path("old.csv")), QByteArray("old contents"));

    answer_save_with("old.csv");
    answer_replace(true);
    window->Save1Click();
    EXPECT_EQ(read_file(scratch_path("old.csv")), QByteArray("new\r\n"));
}

TEST_F(SaveTest, FileThatCannotBeCreatedShowsTheErrorBoxAndChangesNothing) {
    log_line("kept");
    QString shown;
    answer_save_with("missing/log.csv");
    answer_error_box(&shown);
    window->Save1Click();

    EXPECT_EQ(shown, "Cannot create file " + scratch_path("missing/log.csv") + ".");
    EXPECT_TRUE(SameLines({"kept"}, lines()));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(SaveTest, WriteThatFailsPartWayShowsTheErrorBoxNamingTheFile) {
    ASSERT_EQ(::symlink("/dev/full", scratch_path("full.csv").toLocal8Bit().constData()), 0);
    log_line("lost on a full disk");
    QString shown;
    answer_save_with("full.csv");
    answer_replace(true);
    answer_error_box(&shown);
    window->Save1Click();

    EXPECT_EQ(shown, "Cannot write file " + scratch_path("full.csv") + ".");
    EXPECT_TRUE(SameLines({"lost on a full disk"}, lines()));
}

TEST_F(SaveTest, NextSaveOffersTheNameAndFilterOfTheLastSuccessfulOne) {
    log_line("x");
    dialogs.expect<QFileDialog>([this](QFileDialog& dialog) {
        dialog.selectNameFilter("All Files (*)");
        type_file_name(dialog, scratch_path("kept.txt"));
        accept(dialog);
    });
    window->Save1Click();
    ASSERT_TRUE(QFile::exists(scratch_path("kept.txt")));

    // A cancelled choice is not remembered.
    dialogs.expect<QFileDialog>([this](QFileDialog& dialog) {
        dialog.selectNameFilter("Text Files (.csv, .txt, .dat) (*.csv *.dat *.txt)");
        type_file_name(dialog, scratch_path("other.csv"));
        dialog.reject();
    });
    window->Save1Click();

    dialogs.expect<QFileDialog>([this](QFileDialog& dialog) {
        EXPECT_EQ(dialog.selectedNameFilter(), "All Files");
        EXPECT_EQ(dialog.selectedFiles(), QStringList{scratch_path("kept.txt")});
        dialog.reject();
    });
    window->Save1Click();
}

}  // namespace
}  // namespace quillon::testing
