#include "app/error_box.h"

#include "app/app_identity.h"

#include <QMessageBox>

namespace quillon {

QString with_full_stop(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

void show_error_box(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(APPLICATION_TITLE),
                    with_full_stop(message), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

QString current_exception_message() {
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown failure");
    }
}

}  // namespace quillon
