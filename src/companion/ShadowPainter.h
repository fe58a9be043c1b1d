#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

#include <functional>
#include <initializer_list>

// Soft shadows for small vector drawings. The drawing is rendered once into an
// offscreen image at the painter's device scale, its coverage is blurred into
// the shadows, and the result is blitted pixel-aligned. Each shadow is cast by
// everything before it (the drawing plus the earlier shadows), outermost last.
namespace ShadowPainter {

struct Shadow {
    QColor color;
    double radius = 0; // blur radius in drawing units
    QPointF offset;
};

// `bounds`: the drawing's box in the painter's coordinates; `overflow`: how far
// the drawing itself may reach outside it.
void paint(QPainter &painter, const QRectF &bounds, double overflow, std::initializer_list<Shadow> shadows,
           const std::function<void(QPainter &)> &draw);

} // namespace ShadowPainter
