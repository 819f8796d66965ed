#include "app/status_bar.h"

#include <QPainter>
#include <QResizeEvent>
#include <qdrawutil.h>

#include <algorithm>

namespace quillon {

StatusBar::StatusBar(int panel_count, QWidget* parent)
    : QStatusBar(parent), panels_(static_cast<std::size_t>(panel_count), Panel{50, QString()}) {
    setSizeGripEnabled(true);
}

void StatusBar::set_panel_width(int panel, int width) {
    panels_.at(panel).width = width;
    update();
}

void StatusBar::set_panel_text(int panel, const QString& text) {
    panels_.at(panel).text = text;
    update(panel_rect(panel));
}

QRect StatusBar::panel_rect(int panel) const {
    int left = 0;
    for (int i = 0; i < panel; ++i) left += std::max(0, panels_.at(i).width);
    const bool last = panel == panel_count() - 1;
    const int right = last ? width() : std::min(width(), left + panels_.at(panel).width);
    if (right <= left) return {};
    return QRect(left, 0, right - left, height());
}

void StatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < panel_count(); ++i) {
        const QRect rect = panel_rect(i);
        if (rect.isEmpty()) continue;
        // A sunken bevel one pixel wide, with a pixel of space between panels.
        const QRect bevel = rect.adjusted(0, 1, i == panel_count() - 1 ? 0 : -2, 0);
        qDrawShadePanel(&painter, bevel, palette(), true, 1);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(bevel.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         panels_.at(i).text);
    }
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    emit resized();
}

}  // namespace quillon
