#pragma once

#include <QColor>
#include <QImage>
#include <QTransform>
#include <QPainter>
#include <QRectF>

#include <functional>
#include <initializer_list>
#include <vector>

// Soft shadows for small vector drawings. The drawing is rendered once into an
// offscreen image at the painter's device scale, its coverage is blurred into
// the shadows, and the result is blitted pixel-aligned. Each shadow is cast by
// everything before it (the drawing plus the earlier shadows), outermost last.
namespace ShadowPainter {

struct Shadow {
    QColor color;
    double radius = 0; // blur radius in drawing units
    QPointF offset;

    bool operator==(const Shadow &) const = default;
};

// A finished image kept for a drawing that does not change between paints (a
// bubble's fixed text). It is used again only while the bounds, shadows and the
// painter's scale and sub-pixel position are those it was made with; whatever
// else the drawing depends on is the owner's to compare, calling invalidate()
// when it changes.
class Cache {
public:
    void invalidate() { valid_ = false; }
    bool isValid() const { return valid_; }

private:
    friend void paint(QPainter &, const QRectF &, double, std::initializer_list<Shadow>,
                      const std::function<void(QPainter &)> &, Cache *);
    bool valid_ = false;
    QRectF bounds_;
    double overflow_ = 0;
    std::vector<Shadow> shadows_;
    QTransform device_; // translation reduced to its sub-pixel fraction
    QImage image_;
};

// `bounds`: the drawing's box in the painter's coordinates; `overflow`: how far
// the drawing itself may reach outside it. With a `cache`, a still valid image
// is blitted without calling `draw`.
void paint(QPainter &painter, const QRectF &bounds, double overflow, std::initializer_list<Shadow> shadows,
           const std::function<void(QPainter &)> &draw, Cache *cache = nullptr);

// For checks only: blur and composite over the whole image instead of the span
// the drawing covers (the result must be the same).
void workOnWholeImage(bool whole);

} // namespace ShadowPainter
