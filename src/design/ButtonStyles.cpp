#include "design/ButtonStyles.h"
#include "design/TextDirection.h"

#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/Icons.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>

using ZephylPalette::Color;

namespace {
double mix(double from, double to, double t) { return from + (to - from) * std::clamp(t, 0.0, 1.0); }
// What a squeezed button keeps of its padding either side.
constexpr double kTightPadding = 8;
} // namespace

double ButtonStyle::opacity(bool enabled, double pressed) const
{
    if (!enabled)
        return disabledOpacity;
    return mix(1.0, pressedOpacity, pressed);
}

double ButtonStyle::scale(double pressed) const { return mix(1.0, pressedScale, pressed); }

double ButtonStyle::fillOpacity(double pressed) const { return mix(1.0, pressedFillOpacity, pressed); }

QFont ButtonStyle::font() const { return DesignFonts::system(fontSize, weight); }

QPainterPath ButtonStyle::shape(const QRectF &rect) const
{
    const double radius = capsule ? std::min(rect.width(), rect.height()) / 2.0 : cornerRadius;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

double ButtonStyle::paddingFor(double width, double content) const
{
    return std::clamp((width - content) / 2, std::min(kTightPadding, horizontalPadding), horizontalPadding);
}

QString ButtonStyle::shownLabel(const QRectF &rect, const QString &text) const
{
    const QFontMetricsF metrics(font());
    const double room = rect.width() - 2 * paddingFor(rect.width(), metrics.horizontalAdvance(text));
    // A label may be the service's (a suggested reply): its controls act within it.
    return containedBidi(metrics.elidedText(text, Qt::ElideRight, room));
}

ZephylPalette::Color ButtonStyle::drawnLabel(Appearance appearance, bool symbolOnly) const
{
    return ZephylPalette::legibleOn(labelColor, fill, appearance,
                                    symbolOnly ? ZephylPalette::kShapeContrast : ZephylPalette::kTextContrast);
}

FocusRing::Outline ButtonStyle::ringOutline() const
{
    // A capsule's radius is half its height, whatever that is.
    return {capsule ? height : cornerRadius, {}};
}

void ButtonStyle::paint(QPainter &painter, const QRectF &rect, const QString &text, const QString &symbol,
                        bool enabled, double pressed, Appearance appearance, Qt::LayoutDirection direction) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(painter.opacity() * opacity(enabled, pressed));
    const double s = scale(pressed);
    if (s != 1.0) {
        painter.translate(rect.center());
        painter.scale(s, s);
        painter.translate(-rect.center());
    }

    QColor fillColor = PaletteColors::color(fill, appearance);
    fillColor.setAlphaF(float(fillColor.alphaF() * fillOpacity(pressed)));
    painter.fillPath(shape(rect), fillColor);
    if (outline) {
        QColor stroke = PaletteColors::color(*outline, appearance);
        stroke.setAlphaF(float(stroke.alphaF() * outlineOpacity));
        painter.setPen(QPen(stroke, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(shape(rect.adjusted(0.5, 0.5, -0.5, -0.5)));
    }

    const bool symbolOnly = text.isEmpty() && !symbol.isEmpty();
    const QColor label = PaletteColors::color(drawnLabel(appearance, symbolOnly), appearance);
    if (symbolOnly) {
        const double box = Icons::boxForFontSize(fontSize);
        Icons::paint(painter, symbol, QRectF(rect.center().x() - box / 2, rect.center().y() - box / 2, box, box), label,
                     direction);
    } else {
        const QFont f = font();
        painter.setFont(f);
        painter.setPen(label);
        painter.setLayoutDirection(direction);
        const QString shown = shownLabel(rect, text);
        painter.drawText(rect, int(Qt::AlignCenter | Qt::TextSingleLine), shown);
    }
    painter.restore();
}

PrimaryButtonStyle::PrimaryButtonStyle(bool compact)
{
    fontSize = compact ? 13 : 14;
    weight = DesignFonts::Weight::semibold;
    labelColor = Color::onPrimaryFill;
    horizontalPadding = compact ? 14 : 20;
    height = compact ? 32 : 42;
    cornerRadius = compact ? 10 : 13;
    fill = Color::primaryFill;
    pressedOpacity = 0.82;
    disabledOpacity = 0.45;
    pressedScale = 0.985;
    pressSeconds = 0.14;
}

QuietButtonStyle::QuietButtonStyle(bool compact)
{
    fontSize = compact ? 12.5 : 13.5;
    weight = DesignFonts::Weight::medium;
    labelColor = Color::text;
    horizontalPadding = compact ? 12 : 16;
    height = compact ? 30 : 38;
    cornerRadius = compact ? 9 : 12;
    fill = Color::surfaceSoft;
    outline = Color::line;
    pressedOpacity = 0.7;
    disabledOpacity = 0.45;
    pressSeconds = 0.14;
}

ChipButtonStyle::ChipButtonStyle()
{
    fontSize = 12.5;
    weight = DesignFonts::Weight::semibold;
    labelColor = Color::accent;
    horizontalPadding = 12;
    height = 30;
    capsule = true;
    fill = Color::accentSoft;
    pressedFillOpacity = 0.6;
    outline = Color::accent;
    outlineOpacity = 0.35;
}

StyledButton::StyledButton(const QString &text, const ButtonStyle &style, QWidget *parent)
    : QPushButton(text, parent), m_style(style)
{
    m_press = new PressAnimator(style.pressSeconds, this);
    connect(m_press, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    AppearanceService::repaintOnChange(this);
    FocusRing::track(this);
    FocusRing::setOutline(this, style.ringOutline());
}

void StyledButton::setButtonStyle(const ButtonStyle &style)
{
    m_style = style;
    FocusRing::setOutline(this, style.ringOutline());
    delete std::exchange(m_press, nullptr);
    m_press = new PressAnimator(style.pressSeconds, this);
    connect(m_press, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
    followPressed();
    updateGeometry();
    update();
}

void StyledButton::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    updateGeometry();
    update();
}

double StyledButton::pressProgress() const { return m_press->value(); }
double StyledButton::currentOpacity() const { return m_style.opacity(isEnabled(), pressProgress()); }
double StyledButton::currentScale() const { return m_style.scale(pressProgress()); }

QSize StyledButton::sizeHint() const
{
    double content;
    if (text().isEmpty() && !m_symbol.isEmpty())
        content = Icons::boxForFontSize(m_style.fontSize);
    else
        content = QFontMetricsF(m_style.font()).horizontalAdvance(text());
    const double width = std::ceil(content + 2 * m_style.horizontalPadding);
    return {int(std::max(width, m_style.height)), int(m_style.height)};
}

QSize StyledButton::minimumSizeHint() const { return sizeHint(); }

void StyledButton::followPressed()
{
    if (m_press) // not while the animator itself is being made
        m_press->setPressed(isDown());
}

bool StyledButton::event(QEvent *event)
{
    // A deferred deletion ends the button inside the base's handling.
    if (event->type() == QEvent::DeferredDelete)
        return QPushButton::event(event);
    const bool handled = QPushButton::event(event);
    // isDown() changes on presses, drags out of the button and keyboard presses,
    // not all of which are signalled; follow it after every event.
    followPressed();
    return handled;
}

void StyledButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_style.paint(painter, QRectF(rect()), text(), m_symbol, isEnabled(), pressProgress(), drawnAppearance(),
                  layoutDirection());
}

void StyledButton::setFixedAppearance(std::optional<Appearance> appearance)
{
    m_fixedAppearance = appearance;
    FocusRing::setFixedAppearance(this, appearance);
    update();
}

Appearance StyledButton::drawnAppearance() const
{
    return m_fixedAppearance.value_or(AppearanceService::shared().appearance());
}
