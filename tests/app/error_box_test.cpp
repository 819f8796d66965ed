#include "app/error_box.h"
#include "dialog_answers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <new>

namespace quillon::testing {
namespace {

TEST(FullStopRule, AddsAFullStopOnlyAfterACharacterAboveIt) {
    struct Case {
        QString message;
        QString shown;
    };
    const Case cases[] = {
        {"", ""},
        {"Cannot create file /tmp/log.csv", "Cannot create file /tmp/log.csv."},
        {"Ends in a digit 7", "Ends in a digit 7."},
        {"Already ends.", "Already ends."},
        {"Ends in a slash/", "Ends in a slash/."},     // 0x2F
        {"Ends in a dash-", "Ends in a dash-"},        // 0x2D
        {"Ends in a comma,", "Ends in a comma,"},      // 0x2C
        {"Ends in a bracket)", "Ends in a bracket)"},  // 0x29
        {"Ends in a space ", "Ends in a space "},
        {"Ends in a colon:", "Ends in a colon:."},
        {"Ends in \u00E9", "Ends in \u00E9."},
        {".", "."},
        {"a", "a."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(with_full_stop(c.message), c.shown) << c.message.toStdString();
}

struct Shown {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

void expect_box(DialogAnswers& dialogs, Shown* shown) {
    dialogs.expect<QMessageBox>([shown](QMessageBox& box) {
        *shown = {box.windowTitle(), box.text(), box.icon(), box.standardButtons()};
        box.button(QMessageBox::Ok)->click();
    });
}

TEST(ErrorBox, CommandFailureEndsTheCommandAndShowsTheBox) {
    DialogAnswers dialogs;
    Shown shown;
    expect_box(dialogs, &shown);
    bool after_throw = false;
    run_guarded(nullptr, [&] {
        throw CommandFailure("Cannot create file /nowhere/x.csv");
        after_throw = true;
    });

    EXPECT_FALSE(after_throw);
    EXPECT_EQ(shown.title, "Quillon Download Code to TR-518");
    EXPECT_EQ(shown.text, "Cannot create file /nowhere/x.csv.");
    EXPECT_EQ(shown.icon, QMessageBox::Critical);
    EXPECT_EQ(shown.buttons, QMessageBox::Ok);
}

TEST(ErrorBox, AnyExceptionIsShownSoNoneReachesTheToolkit) {
    DialogAnswers dialogs;
    Shown library;
    Shown unknown;
    expect_box(dialogs, &library);
    expect_box(dialogs, &unknown);
    run_guarded(nullptr, [] { throw std::bad_alloc(); });
    run_guarded(nullptr, [] { throw 42; });

    EXPECT_EQ(library.text, "std::bad_alloc.");
    EXPECT_EQ(unknown.text, "Unknown failure.");
}

TEST(ErrorBox, FailureEscapingAnEventHandlerIsShownAndTheProgramGoesOn) {
    class Throwing : public QObject {
    public:
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User) throw CommandFailure("Handler failed");
            return QObject::event(e);
        }
    } receiver;
    DialogAnswers dialogs;
    Shown shown;
    expect_box(dialogs, &shown);

    QEvent event(QEvent::User);
    EXPECT_FALSE(QApplication::sendEvent(&receiver, &event));
    EXPECT_EQ(shown.text, "Handler failed.");
    EXPECT_EQ(shown.title, "Quillon Download Code to TR-518");
}

}  // namespace
}  // namespace quillon::testing
