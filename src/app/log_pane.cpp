#include "app/log_pane.h"

#include "app/log_text.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace quillon {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("RichEdit1"));

    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(13);
    font.setBold(true);
    setFont(font);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);

    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // An undo record per appended line would grow with the log for nothing.
    setUndoRedoEnabled(false);

    connect(document(), &QTextDocument::contentsChanged, this, [this] { on_contents_changed(); });
}

void LogPane::append_line(std::string_view line) {
    QScrollBar* bar = verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();

    appending_ = true;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    if (!holds_no_line_) end.insertBlock();
    end.insertText(to_pane_text(line));
    holds_no_line_ = false;
    appending_ = false;

    if (follow) bar->setValue(bar->maximum());
}

void LogPane::repaint_now() {
    repaint();
}

int LogPane::line_count() const {
    return holds_no_line_ ? 0 : document()->blockCount();
}

void LogPane::on_contents_changed() {
    if (!appending_) holds_no_line_ = document()->isEmpty();
}

}  // namespace quillon
