#include "design/ZephylSurface.h"

#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/PaletteColors.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

using ZephylPalette::Color;

namespace {
bool isDark(Appearance appearance) { return appearance == Appearance::dark; }

// One horizontal and one vertical box-blur pass over the alpha channel; three
// rounds approximate a Gaussian.
void boxBlurAlpha(QImage &image, int radius)
{
    if (radius <= 0)
        return;
    const int w = image.width(), h = image.height();
    std::vector<int> line(size_t(std::max(w, h)));
    auto pass = [&](bool horizontal) {
        const int outer = horizontal ? h : w, inner = horizontal ? w : h;
        for (int o = 0; o < outer; ++o) {
            auto pixel = [&](int i) -> QRgb & {
                const int x = horizontal ? i : o, y = horizontal ? o : i;
                return reinterpret_cast<QRgb *>(image.scanLine(y))[x];
            };
            for (int i = 0; i < inner; ++i)
                line[size_t(i)] = qAlpha(pixel(i));
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += (i >= 0 && i < inner) ? line[size_t(i)] : 0;
            const int span = 2 * radius + 1;
            for (int i = 0; i < inner; ++i) {
                const int alpha = sum / span;
                pixel(i) = qRgba(0, 0, 0, alpha);
                const int leaving = i - radius, entering = i + radius + 1;
                if (leaving >= 0)
                    sum -= line[size_t(leaving)];
                if (entering < inner)
                    sum += line[size_t(entering)];
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(true);
        pass(false);
    }
}

// The blur is a Gaussian of deviation half the blur radius; three box passes reach
// about three deviations out.
int boxRadiusFor(double blur) { return std::max(1, int(std::lround(blur / 2.0))); }
int blurExtent(double blur) { return 3 * boxRadiusFor(blur) + 1; }
} // namespace

QColor ZephylSurfaceModifier::shadowColor(Appearance appearance) const
{
    if (!raised)
        return Qt::transparent;
    return QColor::fromRgbF(0, 0, 0, isDark(appearance) ? 0.42f : 0.06f);
}

double ZephylSurfaceModifier::shadowBlur(Appearance appearance) const { return isDark(appearance) ? 16 : 18; }

double ZephylSurfaceModifier::shadowOffsetY(Appearance appearance) const { return isDark(appearance) ? 9 : 8; }

QColor ZephylSurfaceModifier::strokeColor(Appearance appearance) const
{
    QColor line = PaletteColors::color(Color::line, appearance);
    line.setAlphaF(float(line.alphaF() * (isDark(appearance) ? 0.62 : 0.3)));
    return line;
}

QMargins ZephylSurfaceModifier::shadowMargins(Appearance appearance) const
{
    if (!raised)
        return {};
    const int extent = blurExtent(shadowBlur(appearance));
    const int offset = int(std::lround(shadowOffsetY(appearance)));
    return {extent, std::max(0, extent - offset), extent, extent + offset};
}

QImage ZephylSurfaceModifier::shadowImage(QSizeF size, Appearance appearance) const
{
    const QColor color = shadowColor(appearance);
    if (!raised || color.alpha() == 0 || size.isEmpty())
        return {};
    const int extent = blurExtent(shadowBlur(appearance));
    QImage image(QSize(int(std::ceil(size.width())) + 2 * extent, int(std::ceil(size.height())) + 2 * extent),
                 QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPointF(extent, extent), size), radius, radius);
        painter.fillPath(shape, QColor(0, 0, 0, color.alpha()));
    }
    boxBlurAlpha(image, boxRadiusFor(shadowBlur(appearance)));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void ZephylSurfaceModifier::paintBackground(QPainter &painter, const QRectF &card, Appearance appearance,
                                            const QImage &given) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QImage shadow = given.isNull() ? shadowImage(card.size(), appearance) : given;
    if (!shadow.isNull()) {
        const int extent = blurExtent(shadowBlur(appearance));
        painter.drawImage(card.topLeft() + QPointF(-extent, shadowOffsetY(appearance) - extent), shadow);
    }
    QPainterPath shape;
    shape.addRoundedRect(card, radius, radius);
    painter.fillPath(shape, PaletteColors::color(Color::surface, appearance));
    painter.restore();
}

void ZephylSurfaceModifier::paintStroke(QPainter &painter, const QRectF &card, Appearance appearance,
                                        std::optional<QPen> pen) const
{
    const QPen outline = pen.value_or(QPen(strokeColor(appearance), 1.0));
    const double inset = outline.widthF() / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(outline);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(card.adjusted(inset, inset, -inset, -inset), radius - inset + 0.5, radius - inset + 0.5);
    painter.restore();
}

namespace {
// Draws the outline above the surface's children, letting clicks through.
class StrokeOverlay final : public QWidget {
public:
    explicit StrokeOverlay(ZephylSurface *surface) : QWidget(surface), m_surface(surface)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        m_surface->modifier().paintStroke(painter, m_surface->cardRect(), AppearanceService::shared().appearance(),
                                          m_surface->strokePen());
    }

private:
    ZephylSurface *m_surface;
};
} // namespace

ZephylSurface::ZephylSurface(double radius, bool raised, QWidget *parent)
    : QWidget(parent), m_modifier{radius, raised}
{
    m_stroke = new StrokeOverlay(this);
    applyMargins();
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, [this] {
        applyMargins();
        update();
        m_stroke->update();
    });
}

void ZephylSurface::applyMargins()
{
    setContentsMargins(m_modifier.shadowMargins(AppearanceService::shared().appearance()));
}

QRectF ZephylSurface::cardRect() const
{
    const QMargins m = m_modifier.shadowMargins(AppearanceService::shared().appearance());
    return QRectF(rect().marginsRemoved(m));
}

QPen ZephylSurface::strokePen() const
{
    return FieldRing::pen(this, m_modifier.strokeColor(AppearanceService::shared().appearance()));
}

bool ZephylSurface::event(QEvent *event)
{
    if (event->type() == QEvent::ChildAdded && m_stroke)
        m_stroke->raise();
    return QWidget::event(event);
}

void ZephylSurface::resizeEvent(QResizeEvent *event)
{
    m_stroke->setGeometry(rect());
    m_stroke->raise();
    QWidget::resizeEvent(event);
}

void ZephylSurface::paintEvent(QPaintEvent *)
{
    const Appearance appearance = AppearanceService::shared().appearance();
    const QRectF card = cardRect();
    if (m_modifier.raised && (m_shadow.isNull() || m_shadowFor != card.size() || m_shadowAppearance != appearance)) {
        m_shadow = m_modifier.shadowImage(card.size(), appearance);
        m_shadowFor = card.size();
        m_shadowAppearance = appearance;
    }
    QPainter painter(this);
    m_modifier.paintBackground(painter, card, appearance, m_shadow);
}
