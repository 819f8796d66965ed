#pragma once
// The error box: how a failure that escapes a command reaches the user.
#include <QString>

#include <exception>
#include <stdexcept>
#include <utility>

class QWidget;

namespace quillon {

// A command that cannot go on; its message is UTF-8 and ends without a full stop.
class CommandFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message as the box shows it: a full stop is added when the message is not empty and
// its last character sorts above the full stop.
QString with_full_stop(const QString& message);

// Shows the modal box: caption the application title, stop icon, OK.
void show_error_box(QWidget* parent, const QString& message);

// The text the box shows for whatever is in flight (call from inside a catch block).
QString current_exception_message();

// Runs one command; whatever it throws ends there and is shown in the error box, so no
// exception ever crosses into the toolkit.
template <typename Command>
void run_guarded(QWidget* parent, Command&& command) {
    try {
        std::forward<Command>(command)();
    } catch (...) {
        show_error_box(parent, current_exception_message());
    }
}

}  // namespace quillon
