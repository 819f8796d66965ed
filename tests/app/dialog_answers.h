#pragma once
// Answers the modal dialogs a command opens, in the order the test expects them. A dialog
// that is not expected is recorded as a failure and closed, so no test can hang on one.
#include "qt_printing.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quillon::testing {

// Presses the dialog's accept button (a file dialog checks the choice, as for the user).
inline void accept(QDialog& dialog) {
    dialog.accept();
}

// Types a name into the file dialog's name field, as the user would, relative to the
// folder the dialog shows unless it is absolute.
inline void type_file_name(QFileDialog& dialog, const QString& name) {
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    field->setText(name);
}

class DialogAnswers {
public:
    DialogAnswers() {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    ~DialogAnswers() {
        for (const Step& step : steps_)
            ADD_FAILURE() << "expected a " << step.kind << " that was never shown";
    }
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;

    // Expects the next modal dialog to be a Dialog and answers it with `answer`, which
    // must close it (or lead to another expected dialog).
    template <typename Dialog>
    void expect(std::function<void(Dialog&)> answer) {
        steps_.push_back({Dialog::staticMetaObject.className(), [answer](QDialog& shown) {
                              auto* dialog = qobject_cast<Dialog*>(&shown);
                              if (!dialog) return false;
                              answer(*dialog);
                              return true;
                          }});
    }

    bool all_answered() const { return steps_.empty(); }

private:
    struct Step {
        std::string kind;
        std::function<bool(QDialog&)> answer;
    };

    void poll() {
        auto* shown = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!shown || !shown->isVisible() || answering(shown)) return;
        if (steps_.empty()) {
            reject_unexpected(*shown);
            return;
        }
        // Answered from a posted call, not from the timer: a timer does not fire again
        // while its own handler waits in a nested dialog.
        answering_.push_back(shown);
        QMetaObject::invokeMethod(
            &timer_,
            [this, shown, dialog = QPointer<QDialog>(shown), step = std::move(steps_.front())] {
                if (dialog && !step.answer(*dialog)) {
                    ADD_FAILURE() << "expected a " << step.kind << ", got a "
                                  << dialog->metaObject()->className();
                    dialog->reject();
                }
                answering_.erase(std::find(answering_.begin(), answering_.end(), shown));
            },
            Qt::QueuedConnection);
        steps_.pop_front();
    }

    bool answering(QDialog* dialog) const {
        return std::find(answering_.begin(), answering_.end(), dialog) != answering_.end();
    }

    void reject_unexpected(QDialog& shown) {
        std::string detail = shown.windowTitle().toStdString();
        if (auto* box = qobject_cast<QMessageBox*>(&shown)) detail += ": " + box->text().toStdString();
        ADD_FAILURE() << "unexpected " << shown.metaObject()->className() << " (" << detail << ")";
        shown.reject();
    }

    QTimer timer_;
    std::deque<Step> steps_;
    std::vector<QDialog*> answering_;  // dialogs whose answer is running
};

}  // namespace quillon::testing
