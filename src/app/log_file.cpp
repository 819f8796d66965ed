#include "app/log_file.h"

#include "app/error_box.h"
#include "app/log_pane.h"
#include "app/log_text.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextDocument>

#include <cstdio>
#include <memory>

namespace quillon {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void fail(const char* what, const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    throw CommandFailure(std::string(what) + ' ' + full.toStdString());
}

}  // namespace

void write_log_file(const LogPane& pane, const QString& path) {
    FileHandle file(std::fopen(QFile::encodeName(path).constData(), "wb"));
    if (!file) fail("Cannot create file", path);

    bool written = true;
    if (pane.line_count() > 0) {
        for (QTextBlock block = pane.document()->begin(); block.isValid() && written;
             block = block.next()) {
            QByteArray line = from_pane_text(block.text());
            line.append("\r\n", 2);
            written = std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()),
                                  file.get()) == static_cast<std::size_t>(line.size());
        }
    }
    // A full disk often shows only when the buffer is flushed or the file closed.
    if (std::fclose(file.release()) != 0) written = false;
    if (!written) fail("Cannot write file", path);
}

}  // namespace quillon
