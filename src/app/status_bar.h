#pragma once
// A status bar of text panels laid side by side, the last one running to the bar's right
// end, with the size grip in the corner.
#include <QStatusBar>
#include <QString>

#include <vector>

namespace quillon {

class StatusBar : public QStatusBar {
    Q_OBJECT

public:
    explicit StatusBar(int panel_count, QWidget* parent = nullptr);

    int panel_count() const { return static_cast<int>(panels_.size()); }
    // May be zero or negative; such a panel is not drawn.
    void set_panel_width(int panel, int width);
    int panel_width(int panel) const { return panels_.at(panel).width; }
    void set_panel_text(int panel, const QString& text);
    QString panel_text(int panel) const { return panels_.at(panel).text; }
    // Where the panel is drawn, in the bar's coordinates; empty when it is not drawn.
    QRect panel_rect(int panel) const;

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Panel {
        int width;
        QString text;
    };
    std::vector<Panel> panels_;
};

}  // namespace quillon
