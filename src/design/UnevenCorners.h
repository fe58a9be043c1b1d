#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

// A rectangle whose four corners have their own radii. Leading is the rectangle's
// minimum-x side and trailing its maximum-x side, as given: mirroring for
// right-to-left is the layout's business. A radius of 0 leaves a sharp corner.
struct UnevenCorners {
    double topLeading = 0;
    double bottomLeading = 0;
    double bottomTrailing = 0;
    double topTrailing = 0;

    // Each radius limited to half the shorter side (and never below 0).
    UnevenCorners clamped(QSizeF size) const;
    // Clockwise from the top edge.
    QPainterPath path(const QRectF &rect) const;

    friend bool operator==(const UnevenCorners &, const UnevenCorners &) = default;
};
