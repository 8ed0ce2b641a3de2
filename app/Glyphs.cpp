#include "app/Glyphs.h"

#include "app/IconDesign.h"

#include <QPainter>
#include <QPixmap>

namespace ruvo {

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    }
    return icon;
}

QIcon TempoGlyph() {
    // A metronome: a trapezoid body with its pendulum.
    QPixmap picture(20, 20);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(128, 128, 0));
    const QPointF body[] = {{7, 2}, {13, 2}, {17, 18}, {3, 18}};
    painter.drawPolygon(body, 4);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawLine(QPointF(10, 15), QPointF(14, 5));
    return QIcon(picture);
}

QIcon ZoomGlyph(ZoomKind kind) {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    const bool vertical = kind == ZoomKind::LowerRows || kind == ZoomKind::TallerRows;
    const bool squeeze = kind == ZoomKind::MoreFrames || kind == ZoomKind::LowerRows;
    if (vertical) {
        // Drawn horizontally, then turned a quarter round the centre.
        painter.translate(8, 8);
        painter.rotate(90);
        painter.translate(-8, -8);
    }
    // Two triangles, their points towards the middle (squeeze) or towards the edges.
    const QPointF inward[] = {{1, 3}, {7, 8}, {1, 13}};
    const QPointF inwardRight[] = {{15, 3}, {9, 8}, {15, 13}};
    const QPointF outward[] = {{7, 3}, {1, 8}, {7, 13}};
    const QPointF outwardRight[] = {{9, 3}, {15, 8}, {9, 13}};
    painter.drawPolygon(squeeze ? inward : outward, 3);
    painter.drawPolygon(squeeze ? inwardRight : outwardRight, 3);
    painter.fillRect(QRectF(7.25, 2, 1.5, 12), QColor(0, 0, 128));
    return QIcon(picture);
}

}  // namespace ruvo
