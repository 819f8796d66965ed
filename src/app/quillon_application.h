#pragma once
// The application object: a failure that escapes an event handler is shown in the error
// box and the program goes on, so no exception ever unwinds through the toolkit.
#include <QApplication>

namespace quillon {

class QuillonApplication : public QApplication {
public:
    QuillonApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace quillon
