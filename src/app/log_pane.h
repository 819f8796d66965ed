#pragma once
// The log pane: a plain-text editor that the log appends to and the user may type into.
// Its document is block-based, so appending and painting stay cheap at any length.
#include <QPlainTextEdit>
#include <QTimer>

#include <string_view>

namespace quillon {

class LogPane : public QPlainTextEdit {
public:
    explicit LogPane(QWidget* parent = nullptr);

    // Adds the line as the pane's new last paragraph, wherever the caret is. A view scrolled
    // to the bottom follows it at the next paint.
    void append_line(std::string_view line);
    // Paints the lines appended since the last paint now, dispatching no event.
    void repaint_now();

    // Number of lines, counting paragraphs typed by the user. An empty pane holds none; an
    // empty line appended to it is one.
    int line_count() const;

private:
    void on_contents_changed();
    // Scrolls to a new line that the view follows and places the scroll bars.
    void settle();

    bool holds_no_line_ = true;
    bool appending_ = false;
    bool follow_pending_ = false;
    bool unsettled_ = false;
    QTimer settle_timer_;
};

}  // namespace quillon
