#pragma once

#include "companion/CompanionTypes.h"

#include <QColor>
#include <QPainterPath>
#include <QRectF>

#include <optional>

class QPainter;
namespace ShadowPainter {
class Cache;
}

// The drawn cat: one CompanionPose painted as a small vector cat in a fixed
// 84 x 62 design frame (origin top-left, y down, facing right). A pure function
// of the pose: no state, no timers; it moves because the brain publishes a new
// pose every frame.
struct CompanionFigure {
    static constexpr double kWidth = 84;
    static constexpr double kHeight = 62;

    CompanionPose pose;
    QColor fur{0x24, 0x1F, 0x1A};    // the palette's ink
    QColor cream{241, 235, 221};
    QColor amber{192, 138, 38};
    QColor paper{249, 248, 245};
    // The sleep marks; unset, the palette's settled colour of the appearance at drawing time.
    std::optional<QColor> marks;
    // A thin line around the figure, so the near-black fur holds its shape on a
    // dark ground; unset, the palette's `line` colour (at 0.45) in the dark
    // appearance and none in the light one.
    std::optional<QColor> rim;
    // The rim for a dark ground: the dark appearance's line colour at 0.45.
    static QColor darkGroundRim();

    CompanionFigure() = default;
    explicit CompanionFigure(const CompanionPose &p) : pose(p) {}

    // Paints the figure with its rim and drop shadow into the design frame at the
    // painter's origin; scale the painter to draw it larger.
    void paint(QPainter &painter) const;
    // The same, blitting the cache's image while it is valid; the caller
    // invalidates it when the figure (pose or colours) changes.
    void paint(QPainter &painter, ShadowPainter::Cache *cache) const;
    // Paints the design frame into `target` (its size scales the figure).
    void paint(QPainter &painter, const QRectF &target) const;
    // The figure alone, without shadows.
    void paintBody(QPainter &painter) const;

    // How far the drawing may reach outside its design frame (paws, tail).
    static constexpr double kOverflow = 8;

    // A fixed name for assistive technology, not a translated text.
    static QString accessibilityLabel() { return QStringLiteral("Zephyl companion"); }

    // The figure's two custom outlines.
    static QPainterPath earShape(const QRectF &r);
    static QPainterPath tailShape(const QRectF &r);

private:
    void standing(QPainter &p) const;
    void sitting(QPainter &p, bool hangingPaws) const;
    void airborne(QPainter &p) const;
    void sleeping(QPainter &p) const;
    void sleepMarks(QPainter &p) const;
    void paintRimmed(QPainter &p, const QColor &rim) const;
    void tail(QPainter &p, double sway, QPointF at) const;
    void head(QPainter &p, double tilt, double lift) const;
    void ear(QPainter &p, double x, double y, bool flipped, double scale) const;
    void eye(QPainter &p, double x, double y) const;
    void closedEye(QPainter &p, double x, double y) const;
    void nose(QPainter &p, double x, double y) const;
    void collar(QPainter &p, double x, double y, double width) const;
    void whiskers(QPainter &p) const;
};
