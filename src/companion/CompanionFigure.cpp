#include "companion/CompanionFigure.h"

#include "companion/ShadowPainter.h"
#include "design/AppearanceService.h"
#include "design/PaletteColors.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

using S = CompanionState;

void fillEllipse(QPainter &p, const QRectF &r, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(r);
}

// A box with its shorter sides fully rounded.
void fillCapsule(QPainter &p, const QRectF &r, const QColor &c)
{
    const double radius = std::min(r.width(), r.height()) / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(r, radius, radius);
}

// Turns about a pivot, clockwise as drawn for positive degrees.
void turnAbout(QPainter &p, double degrees, QPointF pivot)
{
    if (degrees == 0)
        return;
    p.translate(pivot);
    p.rotate(degrees);
    p.translate(-pivot);
}

// A capsule leg of 9 x h at `at`, turned about the top centre of its box.
void leg(QPainter &p, QPointF at, double h, double degrees, const QColor &c)
{
    p.save();
    turnAbout(p, degrees, at + QPointF(4.5, 0));
    fillCapsule(p, QRectF(at, QSizeF(9, h)), c);
    p.restore();
}

QPen roundPen(const QColor &c, double width, Qt::PenCapStyle cap = Qt::RoundCap)
{
    QPen pen(c, width, Qt::SolidLine, cap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    return pen;
}

QColor withOpacity(QColor c, double opacity)
{
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

// The wave values of the pose groups.
struct Waves {
    double w = 0;      // 2 pi phase
    double stride = 0; // legs while walking
    double bob = 0;    // body bob while walking
    double lick = 0;   // paw while grooming
    double leap = 0;   // rise while pouncing
    double bodyH = 30; // body height, taller while stretching
};

Waves wavesOf(const CompanionPose &pose)
{
    Waves v;
    v.w = 2 * std::numbers::pi * pose.phase;
    const double p = pose.progress;
    if (pose.state == S::walk) {
        v.stride = std::sin(v.w);
        v.bob = 1.6 * std::abs(std::cos(v.w));
    }
    if (pose.state == S::groom)
        v.lick = 0.5 + 0.5 * std::sin(v.w);
    if (pose.state == S::pounce)
        v.leap = 14 * std::sin(std::numbers::pi * p);
    if (pose.state == S::stretch)
        v.bodyH = 30 + 6 * std::sin(std::numbers::pi * p);
    return v;
}

} // namespace

QPainterPath CompanionFigure::earShape(const QRectF &r)
{
    const double w = r.width();
    QPainterPath path;
    path.moveTo(r.left(), r.bottom());
    path.lineTo(r.center().x() - 0.1 * w, r.top());
    path.quadTo(QPointF(r.right() + 0.05 * w, r.center().y()), QPointF(r.right(), r.bottom()));
    path.closeSubpath();
    return path;
}

QPainterPath CompanionFigure::tailShape(const QRectF &r)
{
    const double w = r.width(), h = r.height();
    QPainterPath path;
    path.moveTo(r.right(), r.bottom());
    path.cubicTo(QPointF(r.left() + 0.2 * w, r.bottom()), QPointF(r.left() - 0.1 * w, r.top() + 0.55 * h),
                 QPointF(r.left() + 0.3 * w, r.top() + 0.15 * h));
    return path;
}

QColor CompanionFigure::darkGroundRim()
{
    // The palette's line colour, as strong as 3:1 on the darkest ground needs
    // (its hairline strength, 0.12, would leave the fur melting in).
    QColor around = PaletteColors::color(ZephylPalette::Color::line, Appearance::dark);
    around.setAlphaF(0.45f);
    return around;
}

void CompanionFigure::paint(QPainter &painter) const { paint(painter, nullptr); }

void CompanionFigure::paint(QPainter &painter, ShadowPainter::Cache *cache) const
{
    std::optional<QColor> around = rim;
    if (!around && AppearanceService::shared().appearance() == Appearance::dark)
        around = darkGroundRim();
    ShadowPainter::paint(
        painter, QRectF(0, 0, kWidth, kHeight), kOverflow,
        {{withOpacity(paper, 0.85), 0.9, {}}, {QColor(0, 0, 0, 56), 4, {0, 3}}},
        [this, around](QPainter &q) {
            if (around && around->alpha() > 0)
                paintRimmed(q, *around);
            else
                paintBody(q);
        },
        cache);
}

void CompanionFigure::paintRimmed(QPainter &p, const QColor &rim) const
{
    // The silhouette, grown by one design unit in every direction, under the body.
    const QTransform device = p.deviceTransform();
    const double scale = std::max(1.0, std::sqrt(std::abs(device.determinant())));
    const QRectF frame(-kOverflow, -kOverflow, kWidth + 2 * kOverflow, kHeight + 2 * kOverflow);
    QImage shape((frame.size() * scale).toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter s(&shape);
        s.scale(scale, scale);
        s.translate(-frame.topLeft());
        paintBody(s);
        s.setCompositionMode(QPainter::CompositionMode_SourceIn);
        s.resetTransform();
        s.fillRect(shape.rect(), QColor(rim.red(), rim.green(), rim.blue()));
    }
    p.save();
    p.setOpacity(p.opacity() * rim.alphaF());
    QImage grown(shape.size(), QImage::Format_ARGB32_Premultiplied);
    grown.fill(Qt::transparent);
    {
        QPainter g(&grown);
        for (int i = 0; i < 8; ++i) {
            const double angle = i * std::numbers::pi / 4;
            g.drawImage(QPointF(std::cos(angle) * scale, std::sin(angle) * scale), shape);
        }
    }
    p.drawImage(QRectF(frame.topLeft(), QSizeF(grown.size()) / scale), grown);
    p.restore();
    paintBody(p);
}

void CompanionFigure::paint(QPainter &painter, const QRectF &target) const
{
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / kWidth, target.height() / kHeight);
    paint(painter);
    painter.restore();
}

void CompanionFigure::paintBody(QPainter &p) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // Facing left mirrors the whole figure about its centre line; 0 faces right.
    if (pose.facing < 0) {
        p.translate(kWidth, 0);
        p.scale(-1, 1);
    }
    switch (pose.state) {
    case S::jump:
    case S::fall:
    case S::carried: airborne(p); break;
    case S::perch: sitting(p, true); break;
    case S::nest: sitting(p, false); break;
    case S::sleep:
        sleeping(p);
        sleepMarks(p);
        break;
    case S::idle:
    case S::groom:
    case S::walk:
    case S::stretch:
    case S::pounce: standing(p); break;
    }
    p.restore();
}

void CompanionFigure::tail(QPainter &p, double sway, QPointF at) const
{
    // The box is turned about its bottom-right corner, the tail's root.
    const QRectF box(at, QSizeF(26, 34));
    p.save();
    turnAbout(p, sway, box.bottomRight());
    p.setPen(roundPen(fur, 6.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tailShape(box));
    p.restore();
}

void CompanionFigure::standing(QPainter &p) const
{
    const Waves v = wavesOf(pose);
    const bool walking = pose.state == S::walk, grooming = pose.state == S::groom;
    const double sway = (walking ? 14 : 9) * std::sin(v.w);
    const double rise = v.bob + v.leap;

    tail(p, sway, QPointF(-2, 14 - v.leap));
    leg(p, {20, 44}, 18, 18 * v.stride, fur);
    leg(p, {29, 44}, 18, -18 * v.stride, fur);
    fillEllipse(p, QRectF(10, 24 - rise, 52, v.bodyH), fur);
    fillEllipse(p, QRectF(26, 36 - rise, 24, 14), cream);

    // The stripes reach past the body's edge, so they are translucent cream as
    // drawn, not a blend with the fur. Their outlines are fixed: stroke them
    // once. They are filled one by one (they share no pixel): Qt's raster
    // engine hands a translucent fill of many spans to a thread pool, whose
    // wake-ups cost more than these small fills.
    static const std::array<QPainterPath, 3> stripes = [] {
        std::array<QPainterPath, 3> out;
        QPainterPathStroker stroker(roundPen(Qt::black, 2.2));
        for (int i = 0; i < 3; ++i) {
            QPainterPath curve;
            curve.moveTo(16 + 7 * i, 27);
            curve.quadTo(15 + 7 * i, 32, 22 + 7 * i, 34);
            out[size_t(i)] = stroker.createStroke(curve);
        }
        return out;
    }();
    p.save();
    p.translate(0, -rise);
    p.setPen(Qt::NoPen);
    p.setBrush(withOpacity(cream, 0.42));
    for (const QPainterPath &stripe : stripes)
        p.drawPath(stripe);
    p.restore();

    leg(p, {43, 44}, 18, -18 * v.stride, fur);
    if (grooming)
        leg(p, {52, 40 - 12 * v.lick}, 18, -58, fur);
    else
        leg(p, {52, 44}, 18, 18 * v.stride, fur);

    const double tilt = grooming ? -(10 + 8 * v.lick) : walking ? 2 * v.stride : 0;
    head(p, tilt, rise + (grooming ? 3 : 0));
}

void CompanionFigure::sitting(QPainter &p, bool hangingPaws) const
{
    const double w = 2 * std::numbers::pi * pose.phase;
    tail(p, 7 * std::sin(w), QPointF(0, 18));
    fillEllipse(p, QRectF(14, 18, 40, 40), fur);
    fillEllipse(p, QRectF(26, 32, 20, 22), cream);
    const double pawH = hangingPaws ? 20 : 14, pawY = hangingPaws ? 46 : 48;
    fillCapsule(p, QRectF(34, pawY, 9, pawH), fur);
    fillCapsule(p, QRectF(46, pawY, 9, pawH), fur);
    head(p, hangingPaws ? 4 : -6, 6);
}

void CompanionFigure::airborne(QPainter &p) const
{
    const bool rising = pose.verticalSpeed > 40;
    const double turn = rising ? -16 : pose.verticalSpeed < -40 ? 12 : 0;
    p.save();
    turnAbout(p, turn, QPointF(42, 31));
    tail(p, rising ? -20 : 18, QPointF(-2, 14));
    fillEllipse(p, QRectF(10, 22, 52, 28), fur);
    fillEllipse(p, QRectF(26, 34, 24, 12), cream);
    fillCapsule(p, QRectF(22, 42, 9, 12), fur);
    fillCapsule(p, QRectF(32, 44, 9, 12), fur);
    fillCapsule(p, QRectF(44, 44, 9, 12), fur);
    fillCapsule(p, QRectF(54, 42, 9, 12), fur);
    head(p, rising ? -8 : 6, 2);
    p.restore();
}

void CompanionFigure::sleeping(QPainter &p) const
{
    const double breath = 1 + 0.025 * std::sin(2 * std::numbers::pi * pose.phase);
    p.save();
    // Breathing scales the body vertically about the middle of its bottom edge.
    p.translate(39, 62);
    p.scale(1, breath);
    p.translate(-39, -62);
    fillEllipse(p, QRectF(8, 32, 62, 30), fur);
    p.restore();
    fillCapsule(p, QRectF(18, 54, 44, 8), fur);
    fillEllipse(p, QRectF(34, 46, 18, 10), cream);
    fillEllipse(p, QRectF(46, 26, 28, 28), fur);
    ear(p, 50, 18, false, 0.9);
    ear(p, 66, 18, true, 0.9);
    closedEye(p, 54, 39);
    closedEye(p, 64, 39);
    nose(p, 60, 44);
    collar(p, 42, 47, 18);
}

void CompanionFigure::sleepMarks(QPainter &p) const
{
    const QColor markColor = marks ? *marks : PaletteColors::color(ZephylPalette::Color::settled);
    p.save();
    for (int i = 0; i < 3; ++i) {
        const double t = std::fmod(pose.phase + 0.33 * i, 1.0);
        if (t >= 0.85)
            continue; // gone for the last 15 % of its cycle
        const double size = 9 + 2.5 * i;
        // Fonts take whole pixel sizes: set the mark at 4x and scale it down.
        QFont font;
        font.setPixelSize(int(std::lround(size * 4)));
        font.setWeight(QFont::Bold);
        p.setFont(font);
        p.setPen(withOpacity(markColor, 1 - 0.9 * t));
        p.save();
        p.translate(70 + 10 * t, 20 - 26 * t);
        p.scale(0.25, 0.25);
        if (pose.facing < 0) {
            // The marks' places mirror with the cat, but a letter drawn backwards
            // reads as a fault: turn each glyph back within its own box.
            const double advance = QFontMetricsF(font).horizontalAdvance(QStringLiteral("z"));
            p.translate(advance, 0);
            p.scale(-1, 1);
        }
        p.drawText(QRectF(0, 0, size * 8, size * 8), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("z"));
        p.restore();
    }
    p.restore();
}

void CompanionFigure::head(QPainter &p, double tilt, double lift) const
{
    p.save();
    p.translate(0, -lift);
    turnAbout(p, tilt, QPointF(56, 40));
    ear(p, 44, 3, false, 1);
    ear(p, 62, 3, true, 1);
    fillEllipse(p, QRectF(41, 11, 30, 30), fur);
    fillEllipse(p, QRectF(52, 28, 16, 10), cream);
    eye(p, 50, 22);
    eye(p, 61, 22);
    nose(p, 58, 29);
    whiskers(p);
    collar(p, 42, 37, 22);
    p.restore();
}

void CompanionFigure::ear(QPainter &p, double x, double y, bool flipped, double s) const
{
    p.save();
    p.translate(x, y);
    if (flipped) {
        p.translate(7 * s, 0);
        p.scale(-1, 1);
        p.translate(-7 * s, 0);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(fur);
    p.drawPath(earShape(QRectF(0, 0, 14 * s, 15 * s)));
    p.setBrush(amber);
    p.drawPath(earShape(QRectF(3.5 * s, 5 * s, 7 * s, 8 * s)));
    p.restore();
}

void CompanionFigure::eye(QPainter &p, double x, double y) const
{
    if (pose.blink) {
        fillCapsule(p, QRectF(x, y + 3, 7, 1.6), paper);
        return;
    }
    fillEllipse(p, QRectF(x, y, 7, 6.5), paper);
    // Gaze is y-up; the drawing is y-down.
    const double gx = std::clamp(pose.gaze.x(), -1.0, 1.0), gy = std::clamp(pose.gaze.y(), -1.0, 1.0);
    fillEllipse(p, QRectF(x + 1.9 + 1.4 * gx, y + 1.05 - 1.1 * gy, 3.2, 4.4), fur);
}

void CompanionFigure::closedEye(QPainter &p, double x, double y) const { fillCapsule(p, QRectF(x, y, 6, 1.5), paper); }

void CompanionFigure::nose(QPainter &p, double x, double y) const
{
    const QRectF box(x, y, 4.4, 3.4);
    p.save();
    turnAbout(p, 180, box.center());
    p.setPen(Qt::NoPen);
    p.setBrush(amber);
    p.drawPath(earShape(box));
    p.restore();
}

void CompanionFigure::collar(QPainter &p, double x, double y, double width) const
{
    fillCapsule(p, QRectF(x, y, width, 3.6), amber);
    fillEllipse(p, QRectF(x + width / 2 - 2.5, y + 2.6, 5, 5), amber);
}

void CompanionFigure::whiskers(QPainter &p) const
{
    p.save();
    p.setPen(roundPen(withOpacity(paper, 0.9), 0.9, Qt::FlatCap));
    p.drawLine(QPointF(64, 29.5), QPointF(80, 24.7));
    p.drawLine(QPointF(64, 32), QPointF(80, 30.6));
    p.drawLine(QPointF(64, 34.5), QPointF(80, 36.5));
    p.restore();
}
