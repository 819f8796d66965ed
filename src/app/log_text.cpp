#include "app/log_text.h"

namespace quillon {

QString to_pane_text(std::string_view line) {
    QString text = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    for (QChar& c : text) {
        if (c == u'\n')
            c = QChar(LF_PICTURE);
        else if (c == u'\r')
            c = QChar(CR_PICTURE);
    }
    return text;
}

QByteArray from_pane_text(const QString& paragraph) {
    QByteArray bytes = paragraph.toLatin1();
    for (qsizetype i = 0; i < paragraph.size(); ++i) {
        const char16_t c = paragraph[i].unicode();
        if (c == LF_PICTURE)
            bytes[i] = '\n';
        else if (c == CR_PICTURE)
            bytes[i] = '\r';
    }
    return bytes;
}

}  // namespace quillon
