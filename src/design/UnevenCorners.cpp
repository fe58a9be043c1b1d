#include "design/UnevenCorners.h"

#include <algorithm>
#include <cmath>

namespace {
double clampRadius(double radius, double limit)
{
    // A negative or NaN radius would turn the arcs inside out; treat it as sharp.
    if (!(radius > 0.0))
        return 0.0;
    return std::min(limit, radius);
}
} // namespace

UnevenCorners UnevenCorners::clamped(QSizeF size) const
{
    const double limit = std::max(0.0, std::min(size.width(), size.height()) / 2.0);
    return {clampRadius(topLeading, limit), clampRadius(bottomLeading, limit), clampRadius(bottomTrailing, limit),
            clampRadius(topTrailing, limit)};
}

QPainterPath UnevenCorners::path(const QRectF &rect) const
{
    const UnevenCorners r = clamped(rect.size());
    const double minX = rect.left(), maxX = rect.right(), minY = rect.top(), maxY = rect.bottom();
    QPainterPath path;
    path.moveTo(minX + r.topLeading, minY);

    // Each corner: a tangent arc of its radius, starting at 90° steps clockwise.
    path.lineTo(maxX - r.topTrailing, minY);
    if (r.topTrailing > 0)
        path.arcTo(QRectF(maxX - 2 * r.topTrailing, minY, 2 * r.topTrailing, 2 * r.topTrailing), 90, -90);

    path.lineTo(maxX, maxY - r.bottomTrailing);
    if (r.bottomTrailing > 0)
        path.arcTo(QRectF(maxX - 2 * r.bottomTrailing, maxY - 2 * r.bottomTrailing, 2 * r.bottomTrailing,
                          2 * r.bottomTrailing),
                   0, -90);

    path.lineTo(minX + r.bottomLeading, maxY);
    if (r.bottomLeading > 0)
        path.arcTo(QRectF(minX, maxY - 2 * r.bottomLeading, 2 * r.bottomLeading, 2 * r.bottomLeading), 270, -90);

    path.lineTo(minX, minY + r.topLeading);
    if (r.topLeading > 0)
        path.arcTo(QRectF(minX, minY, 2 * r.topLeading, 2 * r.topLeading), 180, -90);

    path.closeSubpath();
    return path;
}
