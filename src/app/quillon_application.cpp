#include "app/quillon_application.h"

#include "app/error_box.h"

namespace quillon {

bool QuillonApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        show_error_box(activeWindow(), current_exception_message());
        return false;
    }
}

}  // namespace quillon
