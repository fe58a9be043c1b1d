#include "design/Icons.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace {
// Icons are drawn on a 24 x 24 grid with a pen of width 2 unless they say otherwise.
using Draw = std::function<void(QPainter &, const QColor &)>;

QPen pen(const QColor &color, double width = 2.0)
{
    QPen p(color, width);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

void stroke(QPainter &p, const QColor &color, const QPainterPath &path, double width = 2.0)
{
    p.setPen(pen(color, width));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void fill(QPainter &p, const QColor &color, const QPainterPath &path)
{
    p.setPen(pen(color, 1.0));
    p.setBrush(color);
    p.drawPath(path);
}

QPainterPath circle(double cx, double cy, double r)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return path;
}

QPainterPath polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF &point : points) {
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    return path;
}

// A four-pointed star with curved sides, as in a sparkle.
QPainterPath sparkle(QPointF c, double r)
{
    QPainterPath path;
    const double k = r * 0.16;
    path.moveTo(c.x(), c.y() - r);
    path.quadTo(c.x() + k, c.y() - k, c.x() + r, c.y());
    path.quadTo(c.x() + k, c.y() + k, c.x(), c.y() + r);
    path.quadTo(c.x() - k, c.y() + k, c.x() - r, c.y());
    path.quadTo(c.x() - k, c.y() - k, c.x(), c.y() - r);
    path.closeSubpath();
    return path;
}

const std::map<QString, Draw> &icons()
{
    static const std::map<QString, Draw> table = {
        {QStringLiteral("exclamationmark.circle"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, circle(12, 12, 9.5));
             stroke(p, c, polyline({{12, 6.8}, {12, 13.2}}));
             fill(p, c, circle(12, 16.9, 0.9));
         }},
        {QStringLiteral("checkmark.circle"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, circle(12, 12, 9.5));
             stroke(p, c, polyline({{7.8, 12.4}, {10.7, 15.3}, {16.3, 8.9}}));
         }},
        {QStringLiteral("xmark"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, polyline({{6, 6}, {18, 18}}), 2.4);
             stroke(p, c, polyline({{18, 6}, {6, 18}}), 2.4);
         }},
        {QStringLiteral("chevron.left"),
         [](QPainter &p, const QColor &c) { stroke(p, c, polyline({{15, 4.5}, {7.5, 12}, {15, 19.5}}), 2.4); }},
        {QStringLiteral("chevron.right"),
         [](QPainter &p, const QColor &c) { stroke(p, c, polyline({{9, 4.5}, {16.5, 12}, {9, 19.5}}), 2.4); }},
        {QStringLiteral("arrow.up"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, polyline({{12, 19.5}, {12, 4.5}}), 2.4);
             stroke(p, c, polyline({{5.5, 11}, {12, 4.5}, {18.5, 11}}), 2.4);
         }},
        {QStringLiteral("play.fill"),
         [](QPainter &p, const QColor &c) {
             QPainterPath path = polyline({{7, 4.5}, {19.5, 12}, {7, 19.5}});
             path.closeSubpath();
             p.setPen(pen(c, 1.6));
             p.setBrush(c);
             p.drawPath(path);
         }},
        {QStringLiteral("pause.fill"),
         [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addRoundedRect(QRectF(6, 4.5, 4.2, 15), 1.2, 1.2);
             path.addRoundedRect(QRectF(13.8, 4.5, 4.2, 15), 1.2, 1.2);
             fill(p, c, path);
         }},
        {QStringLiteral("play.rectangle"),
         [](QPainter &p, const QColor &c) {
             QPainterPath frame;
             frame.addRoundedRect(QRectF(3, 5, 18, 14), 3, 3);
             stroke(p, c, frame, 1.8);
             QPainterPath play = polyline({{10, 9}, {15.2, 12}, {10, 15}});
             play.closeSubpath();
             fill(p, c, play);
         }},
        {QStringLiteral("circle.dashed"),
         [](QPainter &p, const QColor &c) {
             // Eight arcs with gaps between them.
             for (int i = 0; i < 8; ++i) {
                 QPainterPath arc;
                 arc.arcMoveTo(QRectF(3, 3, 18, 18), i * 45.0 + 8);
                 arc.arcTo(QRectF(3, 3, 18, 18), i * 45.0 + 8, 29);
                 stroke(p, c, arc, 1.8);
             }
         }},
        {QStringLiteral("photo"),
         [](QPainter &p, const QColor &c) {
             QPainterPath frame;
             frame.addRoundedRect(QRectF(3, 4.5, 18, 15), 3, 3);
             stroke(p, c, frame, 1.8);
             stroke(p, c, polyline({{4, 17.5}, {9.5, 11.5}, {13.5, 15.5}, {16, 13}, {20, 17}}), 1.8);
             fill(p, c, circle(15.5, 9, 1.5));
         }},
        {QStringLiteral("rectangle.stack"),
         [](QPainter &p, const QColor &c) {
             QPainterPath front;
             front.addRoundedRect(QRectF(3, 9, 18, 11.5), 2.6, 2.6);
             stroke(p, c, front, 1.8);
             stroke(p, c, polyline({{5.5, 6.2}, {18.5, 6.2}}), 1.8);
             stroke(p, c, polyline({{8, 3.5}, {16, 3.5}}), 1.8);
         }},
        {QStringLiteral("square.on.square"),
         [](QPainter &p, const QColor &c) {
             QPainterPath front;
             front.addRoundedRect(QRectF(3.5, 8, 12.5, 12.5), 2.4, 2.4);
             stroke(p, c, front, 2.0);
             QPainterPath back;
             back.moveTo(8, 6);
             back.lineTo(8, 5.9);
             back.quadTo(8, 3.5, 10.4, 3.5);
             back.lineTo(18.1, 3.5);
             back.quadTo(20.5, 3.5, 20.5, 5.9);
             back.lineTo(20.5, 13.6);
             back.quadTo(20.5, 16, 18.1, 16);
             back.lineTo(18, 16);
             stroke(p, c, back, 2.0);
         }},
        {QStringLiteral("square.grid.3x3"),
         [](QPainter &p, const QColor &c) {
             QPainterPath path;
             for (int row = 0; row < 3; ++row) {
                 for (int col = 0; col < 3; ++col)
                     path.addRoundedRect(QRectF(3.4 + col * 6.2, 3.4 + row * 6.2, 4.8, 4.8), 1.0, 1.0);
             }
             stroke(p, c, path, 1.5);
         }},
        {QStringLiteral("camera"),
         [](QPainter &p, const QColor &c) {
             QPainterPath body;
             body.moveTo(5.5, 7.5);
             body.lineTo(8.2, 7.5);
             body.lineTo(9.6, 5);
             body.lineTo(14.4, 5);
             body.lineTo(15.8, 7.5);
             body.lineTo(18.5, 7.5);
             body.quadTo(21, 7.5, 21, 10);
             body.lineTo(21, 17.5);
             body.quadTo(21, 20, 18.5, 20);
             body.lineTo(5.5, 20);
             body.quadTo(3, 20, 3, 17.5);
             body.lineTo(3, 10);
             body.quadTo(3, 7.5, 5.5, 7.5);
             body.closeSubpath();
             stroke(p, c, body, 1.8);
             stroke(p, c, circle(12, 13.5, 3.6), 1.8);
         }},
        {QStringLiteral("sparkles"),
         [](QPainter &p, const QColor &c) {
             fill(p, c, sparkle({9.5, 13.5}, 7.0));
             fill(p, c, sparkle({18, 5.5}, 3.2));
             fill(p, c, sparkle({18.5, 18}, 2.4));
         }},
        {QStringLiteral("calendar"),
         [](QPainter &p, const QColor &c) {
             QPainterPath frame;
             frame.addRoundedRect(QRectF(3.5, 5, 17, 15.5), 3, 3);
             stroke(p, c, frame, 1.8);
             stroke(p, c, polyline({{3.5, 9.8}, {20.5, 9.8}}), 1.8);
             stroke(p, c, polyline({{8, 3}, {8, 6.5}}), 1.8);
             stroke(p, c, polyline({{16, 3}, {16, 6.5}}), 1.8);
             for (int row = 0; row < 2; ++row) {
                 for (int col = 0; col < 3; ++col)
                     fill(p, c, circle(8 + col * 4, 13.3 + row * 3.8, 0.8));
             }
         }},
        {QStringLiteral("clock"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, circle(12, 12, 9.5));
             stroke(p, c, polyline({{12, 6.8}, {12, 12}, {15.6, 14.2}}));
         }},
        {QStringLiteral("tray"),
         [](QPainter &p, const QColor &c) {
             QPainterPath frame = polyline({{3.5, 13}, {6.5, 5}, {17.5, 5}, {20.5, 13}, {20.5, 19}, {3.5, 19}});
             frame.closeSubpath();
             stroke(p, c, frame, 1.8);
             stroke(p, c, polyline({{3.5, 13}, {8.5, 13}, {9.8, 15.5}, {14.2, 15.5}, {15.5, 13}, {20.5, 13}}), 1.8);
         }},
        {QStringLiteral("hourglass"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, polyline({{6, 3.5}, {18, 3.5}}), 1.8);
             stroke(p, c, polyline({{6, 20.5}, {18, 20.5}}), 1.8);
             stroke(p, c, polyline({{7.5, 3.5}, {7.5, 7}, {12, 12}, {7.5, 17}, {7.5, 20.5}}), 1.8);
             stroke(p, c, polyline({{16.5, 3.5}, {16.5, 7}, {12, 12}, {16.5, 17}, {16.5, 20.5}}), 1.8);
             QPainterPath sand = polyline({{9, 19.5}, {12, 16.5}, {15, 19.5}});
             sand.closeSubpath();
             fill(p, c, sand);
         }},
        {QStringLiteral("photo.on.rectangle.angled"),
         [](QPainter &p, const QColor &c) {
             QPainterPath back = polyline({{5.2, 6.4}, {17.6, 3.2}, {20.6, 14.8}});
             stroke(p, c, back, 1.6);
             QPainterPath front;
             front.addRoundedRect(QRectF(2.5, 8, 15, 12), 2, 2);
             stroke(p, c, front, 1.8);
             stroke(p, c, polyline({{3.5, 18.5}, {8, 14}, {11, 16.6}, {13.2, 14.6}, {17, 18}}), 1.6);
             fill(p, c, circle(13.3, 11.4, 1.3));
         }},
        {QStringLiteral("plus"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, polyline({{12, 5}, {12, 19}}), 2.4);
             stroke(p, c, polyline({{5, 12}, {19, 12}}), 2.4);
         }},
        {QStringLiteral("text.book.closed"),
         [](QPainter &p, const QColor &c) {
             QPainterPath cover;
             cover.moveTo(6.5, 3.5);
             cover.lineTo(18.5, 3.5);
             cover.lineTo(18.5, 20.5);
             cover.lineTo(6.5, 20.5);
             cover.quadTo(4.5, 20.5, 4.5, 18.5);
             cover.lineTo(4.5, 5.5);
             cover.quadTo(4.5, 3.5, 6.5, 3.5);
             cover.closeSubpath();
             stroke(p, c, cover, 1.8);
             stroke(p, c, polyline({{8.5, 3.5}, {8.5, 20.5}}), 1.6);
             stroke(p, c, polyline({{11.5, 8.5}, {15.5, 8.5}}), 1.6);
             stroke(p, c, polyline({{11.5, 12}, {15.5, 12}}), 1.6);
         }},
        {QStringLiteral("bubble.left.and.bubble.right"),
         [](QPainter &p, const QColor &c) {
             QPainterPath back;
             back.addRoundedRect(QRectF(9.5, 3.5, 11.5, 9), 3.5, 3.5);
             stroke(p, c, back, 1.6);
             QPainterPath front;
             front.addRoundedRect(QRectF(3, 9, 12, 9), 3.5, 3.5);
             stroke(p, c, front, 1.8);
             stroke(p, c, polyline({{6, 18}, {5, 21}, {9, 18}}), 1.6);
         }},
        {QStringLiteral("person.crop.circle"),
         [](QPainter &p, const QColor &c) {
             stroke(p, c, circle(12, 12, 9.5), 1.8);
             stroke(p, c, circle(12, 10, 3.2), 1.8);
             QPainterPath shoulders;
             shoulders.moveTo(6.2, 18.6);
             shoulders.quadTo(12, 12.4, 17.8, 18.6);
             stroke(p, c, shoulders, 1.8);
         }},
        {QStringLiteral("square.and.pencil"),
         [](QPainter &p, const QColor &c) {
             QPainterPath box;
             box.moveTo(11, 4.5);
             box.lineTo(6.5, 4.5);
             box.quadTo(4, 4.5, 4, 7);
             box.lineTo(4, 17.5);
             box.quadTo(4, 20, 6.5, 20);
             box.lineTo(17, 20);
             box.quadTo(19.5, 20, 19.5, 17.5);
             box.lineTo(19.5, 13);
             stroke(p, c, box, 1.8);
             stroke(p, c, polyline({{10, 14}, {10.6, 11.2}, {18.2, 3.6}, {20.4, 5.8}, {12.8, 13.4}, {10, 14}}), 1.8);
         }},
        {QStringLiteral("pawprint"),
         [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 16), 4.6, 3.8);
             path.addEllipse(QPointF(5.4, 10.6), 1.7, 2.2);
             path.addEllipse(QPointF(9.3, 6.4), 1.7, 2.3);
             path.addEllipse(QPointF(14.7, 6.4), 1.7, 2.3);
             path.addEllipse(QPointF(18.6, 10.6), 1.7, 2.2);
             stroke(p, c, path, 1.6);
         }},
        {QStringLiteral("pawprint.fill"),
         [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 16), 5.2, 4.4);
             path.addEllipse(QPointF(5.2, 10.5), 2.1, 2.6);
             path.addEllipse(QPointF(9.2, 6.2), 2.1, 2.7);
             path.addEllipse(QPointF(14.8, 6.2), 2.1, 2.7);
             path.addEllipse(QPointF(18.8, 10.5), 2.1, 2.6);
             fill(p, c, path);
         }},
    };
    return table;
}
} // namespace

namespace Icons {

bool has(const QString &name) { return icons().count(name) > 0; }

QStringList names()
{
    QStringList list;
    for (const auto &entry : icons())
        list.append(entry.first);
    return list;
}

double boxForFontSize(double size) { return std::round(size * 1.2); }

bool isDirectional(const QString &name)
{
    return name == QLatin1String("chevron.left") || name == QLatin1String("chevron.right");
}

bool paint(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color,
           Qt::LayoutDirection direction)
{
    const auto it = icons().find(name);
    if (it == icons().end() || rect.isEmpty())
        return false;
    const double side = std::min(rect.width(), rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 24.0, side / 24.0);
    if (direction == Qt::RightToLeft && isDirectional(name)) {
        painter.translate(24, 0);
        painter.scale(-1, 1);
    }
    it->second(painter, color);
    painter.restore();
    return true;
}

} // namespace Icons
