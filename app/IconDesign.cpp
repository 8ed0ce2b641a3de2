#include "app/IconDesign.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <array>
#include <span>
#include <vector>

namespace ruvo {

namespace {

// A path of straight and cubic pieces, in design units.
struct PathPiece {
    enum Kind { Move, Cubic } Type;
    std::array<QPointF, 3> Points;  // Move: the first; Cubic: two controls and the end
};

struct Shape {
    QRectF Box;                     // a rounded box when Pieces is empty
    double Radius = 0.0;            // of the box's corners
    std::vector<PathPiece> Pieces;  // otherwise an open path that is stroked
    QColor Fill;                    // of a box
    QColor Stroke;                  // of a path
    double StrokeWidth = 0.0;
};

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = [] {
        const QColor background(0x1d, 0x36, 0xc9);
        const QColor row(0x34, 0x4f, 0xdf);
        const QColor note(0xff, 0xe0, 0x1a);
        std::vector<Shape> list;
        list.push_back({QRectF(2, 2, 60, 60), 13, {}, background, {}, 0});
        // The rows of the piano roll.
        for (const double y : {14.0, 22.0, 30.0, 38.0, 46.0}) {
            list.push_back({QRectF(8, y, 48, 1.2), 0.6, {}, row, {}, 0});
        }
        // The sound: a wave that fades as it reaches the notes.
        list.push_back({{},
                        0,
                        {{PathPiece::Move, {QPointF(6, 32)}},
                         {PathPiece::Cubic, {QPointF(9, 12), QPointF(12, 12), QPointF(15, 32)}},
                         {PathPiece::Cubic, {QPointF(18, 50), QPointF(21, 50), QPointF(24, 32)}},
                         {PathPiece::Cubic, {QPointF(26, 20), QPointF(28, 20), QPointF(30, 32)}}},
                        {},
                        QColor(Qt::white),
                        4.0});
        // The notes: a rising melody.
        list.push_back({QRectF(32, 36, 12, 7), 2, {}, note, {}, 0});
        list.push_back({QRectF(41, 26, 10, 7), 2, {}, note, {}, 0});
        list.push_back({QRectF(48, 16, 9, 7), 2, {}, note, {}, 0});
        return list;
    }();
    return shapes;
}

QPainterPath ToPainterPath(std::span<const PathPiece> pieces) {
    QPainterPath path;
    for (const PathPiece& piece : pieces) {
        if (piece.Type == PathPiece::Move) {
            path.moveTo(piece.Points[0]);
        } else {
            path.cubicTo(piece.Points[0], piece.Points[1], piece.Points[2]);
        }
    }
    return path;
}

QString Number(double value) { return QString::number(value, 'g', 6); }

}  // namespace

void PaintProgramIcon(QPainter& painter, int size) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / static_cast<double>(kIconDesignSize), size / static_cast<double>(kIconDesignSize));
    for (const Shape& shape : Shapes()) {
        if (shape.Pieces.empty()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(shape.Fill);
            painter.drawRoundedRect(shape.Box, shape.Radius, shape.Radius);
            continue;
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(shape.Stroke, shape.StrokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(ToPainterPath(shape.Pieces));
    }
    painter.restore();
}

QImage ProgramIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintProgramIcon(painter, size);
    painter.end();
    return image;
}

QString ProgramIconSvg() {
    QString svg = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n");
    for (const Shape& shape : Shapes()) {
        if (shape.Pieces.empty()) {
            svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n")
                       .arg(Number(shape.Box.x()), Number(shape.Box.y()), Number(shape.Box.width()),
                            Number(shape.Box.height()), Number(shape.Radius), shape.Fill.name());
            continue;
        }
        QString data;
        for (const PathPiece& piece : shape.Pieces) {
            if (piece.Type == PathPiece::Move) {
                data += QStringLiteral("M%1 %2").arg(Number(piece.Points[0].x()), Number(piece.Points[0].y()));
            } else {
                data += QStringLiteral(" C%1 %2 %3 %4 %5 %6")
                            .arg(Number(piece.Points[0].x()), Number(piece.Points[0].y()), Number(piece.Points[1].x()),
                                 Number(piece.Points[1].y()), Number(piece.Points[2].x()), Number(piece.Points[2].y()));
            }
        }
        svg += QStringLiteral(
                   "  <path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\" stroke-linecap=\"round\" "
                   "stroke-linejoin=\"round\"/>\n")
                   .arg(data, shape.Stroke.name(), Number(shape.StrokeWidth));
    }
    svg += QStringLiteral("</svg>\n");
    return svg;
}

}  // namespace ruvo
