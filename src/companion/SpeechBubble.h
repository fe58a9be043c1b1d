#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <optional>

class QPainter;

// The outline of the bubble: a rounded body and, on its top or bottom edge, a
// small pointed tail.
struct BubbleShape {
    enum class Edge { top, leading, bottom, trailing };

    double radius = 16;
    double tail = 0;       // tail height; 0 or less draws no tail
    double tailOffset = 0; // from the body's horizontal centre
    Edge tailEdge = Edge::bottom;

    QPainterPath path(const QRectF &rect) const;
};

// The rounded bubble in which the cat speaks a line. Shows its text verbatim
// (callers pass text already in the user's language), wraps it at 250 points,
// at most four lines. Pure drawing: placement and expiry belong to the caller.
struct SpeechBubble {
    static constexpr double kMaxTextWidth = 250;
    static constexpr int kMaxLines = 4;
    static constexpr double kFontSize = 13;
    static constexpr double kLineSpacing = 1.5;

    QString text;
    double tailOffset = 0;
    BubbleShape::Edge tailEdge = BubbleShape::Edge::bottom;
    double tailHeight = 10;

    // Text direction: Qt::LayoutDirectionAuto takes the interface's unless all
    // of the text's letters read the other way; lines align to the leading
    // edge of that direction.
    Qt::LayoutDirection direction = Qt::LayoutDirectionAuto;

    // Unset, the palette's text, surface and line colours of the appearance at
    // drawing time.
    std::optional<QColor> textColor = std::nullopt;
    std::optional<QColor> surface = std::nullopt;
    std::optional<QColor> line = std::nullopt;

    // The laid-out text: its lines and the bubble's size.
    struct Layout {
        QSizeF textSize;
        QSizeF bubbleSize;
        int lineCount = 0;
        bool elided = false;
        bool rightToLeft = false;
    };
    Layout layout() const;
    QSizeF size() const { return layout().bubbleSize; }

    // Paints the bubble with its top-left corner at the painter's origin.
    void paint(QPainter &painter) const;
    // The text's own rectangle inside the bubble.
    QRectF textRect() const;

    double tailPadding() const;
};
