#pragma once
// The log pane: a plain-text editor that the log appends to and the user may type into.
// Its document is block-based, so appending and painting stay cheap at any length.
#include <QPlainTextEdit>

#include <string_view>

namespace quillon {

class LogPane : public QPlainTextEdit {
public:
    explicit LogPane(QWidget* parent = nullptr);

    // Adds the line as the pane's new last paragraph, wherever the caret is. The view
    // follows the new line while it is scrolled to the bottom.
    void append_line(std::string_view line);
    // Paints pending changes now, dispatching no other event.
    void repaint_now();

    // The pane holds no line at all (an empty first paragraph is a line once appended).
    bool holds_no_line() const { return holds_no_line_; }
    // Number of lines, counting paragraphs typed by the user.
    int line_count() const;

private:
    void on_contents_changed();

    bool holds_no_line_ = true;
    bool appending_ = false;
};

}  // namespace quillon
