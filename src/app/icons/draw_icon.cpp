// Draws the program icon, our own artwork, at each size it ships in:
//   quillon_draw_icon OUTPUT_FOLDER
// writes quillon-16.png, quillon-32.png, quillon-48.png and quillon-256.png.
// The pictures are kept in the repository; run this again after changing the drawing.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

// Drawn on a 256-unit square; small sizes leave out the pins, which would only blur.
QImage draw_icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Tile: a deep blue rounded square.
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0x1f, 0x6f, 0xb2));
    tile.setColorAt(1, QColor(0x0b, 0x3a, 0x66));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    const double margin = size <= 16 ? 0 : 8;
    p.drawRoundedRect(QRectF(margin, margin, 256 - 2 * margin, 256 - 2 * margin), 44, 44);

    // The instrument's flash: a chip across the lower part.
    const QRectF chip(56, 160, 144, 60);
    if (size >= 32) {
        p.setBrush(QColor(0xc9, 0xd3, 0xdb));
        for (int i = 0; i < 6; ++i) p.drawRect(QRectF(70 + i * 22, 146, 10, 88));
    }
    p.setBrush(QColor(0x20, 0x24, 0x2a));
    p.drawRoundedRect(chip, 10, 10);
    if (size >= 32) {
        p.setBrush(QColor(0x4c, 0xd9, 0x64));
        p.drawEllipse(QPointF(76, 178), 7, 7);
    }

    // The download: an amber arrow pointing into the chip.
    QPainterPath arrow;
    arrow.moveTo(104, 30);
    arrow.lineTo(152, 30);
    arrow.lineTo(152, 92);
    arrow.lineTo(190, 92);
    arrow.lineTo(128, 152);
    arrow.lineTo(66, 92);
    arrow.lineTo(104, 92);
    arrow.closeSubpath();
    p.setBrush(QColor(0xff, 0xb3, 0x1a));
    p.setPen(QPen(QColor(0x7a, 0x4a, 0x00), size <= 16 ? 0 : 6, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.drawPath(arrow);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon_draw_icon OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 32, 48, 256}) {
        const QString path = QStringLiteral("%1/quillon-%2.png").arg(folder).arg(size);
        if (!draw_icon(size).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
