#include "app/log_pane.h"

#include "app/log_text.h"

#include <QScrollBar>
#include <QSignalBlocker>
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

    // Work that each line would otherwise cause (scrolling, placing the scroll bars) waits
    // for the next paint or for the event loop. A timer, not a posted call: restarting it
    // queues nothing, however many lines come while no event is dispatched.
    settle_timer_.setSingleShot(true);
    settle_timer_.setInterval(0);
    connect(&settle_timer_, &QTimer::timeout, this, [this] { settle(); });
}

void LogPane::append_line(std::string_view line) {
    if (!follow_pending_) {
        const QScrollBar* bar = verticalScrollBar();
        follow_pending_ = bar->value() == bar->maximum();
    }

    {
        // Each new line changes the scroll ranges, and the scroll area answers every change
        // with a queued call of its own; settle() places the bars once instead.
        const QSignalBlocker vertical(verticalScrollBar());
        const QSignalBlocker horizontal(horizontalScrollBar());
        appending_ = true;
        // One edit, so the new paragraph is laid out once; moving the cursor inside it
        // spares laying out the old last line only to place the cursor.
        QTextCursor end(document());
        end.beginEditBlock();
        end.movePosition(QTextCursor::End);
        if (!holds_no_line_) end.insertBlock();
        end.insertText(to_pane_text(line));
        end.endEditBlock();
        appending_ = false;
    }
    holds_no_line_ = false;
    unsettled_ = true;
    settle_timer_.start();
}

void LogPane::repaint_now() {
    if (!unsettled_) return;
    settle();
    repaint();
}

void LogPane::settle() {
    settle_timer_.stop();
    if (!unsettled_) return;
    unsettled_ = false;
    // Setting the policies again shows or hides each bar for its current range.
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    if (follow_pending_) {
        follow_pending_ = false;
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

int LogPane::line_count() const {
    return holds_no_line_ ? 0 : document()->blockCount();
}

void LogPane::on_contents_changed() {
    if (!appending_) holds_no_line_ = document()->isEmpty();
}

}  // namespace quillon
