#include "design/NoticeBanner.h"

#include "design/AppearanceService.h"
#include "design/DesignFonts.h"
#include "design/Icons.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
constexpr double kPadding = 14;
constexpr double kSpacing = 10;
constexpr double kRadius = 12;

QFont textFont() { return DesignFonts::system(13, DesignFonts::Weight::medium); }
double iconBox() { return Icons::boxForFontSize(14); }
} // namespace

NoticeBanner::NoticeBanner(const AppNotice &notice, QWidget *parent) : QWidget(parent), m_notice(notice)
{
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    AppearanceService::repaintOnChange(this);
}

void NoticeBanner::setNotice(const AppNotice &notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    updateGeometry();
    update();
}

QString NoticeBanner::symbol() const
{
    return m_notice.tone == AppNotice::Tone::attention ? QStringLiteral("exclamationmark.circle")
                                                       : QStringLiteral("checkmark.circle");
}

ZephylPalette::Color NoticeBanner::foregroundColor() const
{
    return m_notice.tone == AppNotice::Tone::attention ? ZephylPalette::Color::attention
                                                       : ZephylPalette::Color::settled;
}

ZephylPalette::Color NoticeBanner::fillColor() const
{
    return m_notice.tone == AppNotice::Tone::attention ? ZephylPalette::Color::attentionSoft
                                                       : ZephylPalette::Color::settledSoft;
}

double NoticeBanner::textWidth() const { return width() - 2 * kPadding - iconBox() - kSpacing; }

QStringList NoticeBanner::visibleLines() const
{
    return TextBlock::layoutLines(m_notice.text, textFont(), textWidth(), kMaxLines, layoutDirection());
}

QSize NoticeBanner::sizeHint() const
{
    const double text = QFontMetricsF(textFont()).horizontalAdvance(m_notice.text);
    // A little slack: right-to-left shaping can measure a pixel wider when drawn.
    return {int(std::ceil(2 * kPadding + iconBox() + kSpacing + text)) + 3, kHeight};
}

QSize NoticeBanner::minimumSizeHint() const { return {int(2 * kPadding + iconBox() + kSpacing) + 40, kHeight}; }

void NoticeBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    painter.fillPath(shape, PaletteColors::color(fillColor()));

    // The tone's colour, unless it would not read on its own soft fill.
    const Appearance appearance = AppearanceService::shared().appearance();
    const QColor symbolColor = PaletteColors::color(
        ZephylPalette::legibleOn(foregroundColor(), fillColor(), appearance, ZephylPalette::kShapeContrast), appearance);
    const QColor foreground =
        PaletteColors::color(ZephylPalette::legibleOn(foregroundColor(), fillColor(), appearance), appearance);
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    const double box = iconBox();
    const double iconX = rtl ? width() - kPadding - box : kPadding;
    Icons::paint(painter, symbol(), QRectF(iconX, (height() - box) / 2.0, box, box), symbolColor);

    const QFont font = textFont();
    const QStringList lines = visibleLines();
    const double lineHeight = QFontMetricsF(font).lineSpacing();
    const double textX = rtl ? kPadding : kPadding + box + kSpacing;
    double y = (height() - lineHeight * lines.size()) / 2.0;
    painter.setFont(font);
    painter.setPen(foreground);
    painter.setLayoutDirection(layoutDirection());
    const int align = int((rtl ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter |
                          Qt::TextSingleLine);
    for (const QString &line : lines) {
        painter.drawText(QRectF(textX, y, textWidth(), lineHeight), align, line);
        y += lineHeight;
    }
}
