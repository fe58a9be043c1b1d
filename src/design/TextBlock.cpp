#include "design/TextBlock.h"
#include "design/TextDirection.h"

#include "design/AppearanceService.h"
#include "design/DesignFonts.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {
const QChar kEllipsis(0x2026);

QString withoutTrailingSpace(QString line)
{
    while (!line.isEmpty() && (line.back().isSpace() || line.back() == QChar::LineSeparator))
        line.chop(1);
    return line;
}
} // namespace

TextBlock::TextBlock(const QString &text, const QFont &font, ZephylPalette::Color color, QWidget *parent)
    : QWidget(parent), m_text(text), m_color(color)
{
    setFont(font);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    AppearanceService::repaintOnChange(this);
}

void TextBlock::setText(const QString &text)
{
    if (text == m_text)
        return;
    if (m_crossFadeSeconds > 0 && isVisible()) {
        m_leaving = m_text;
        delete m_crossFade;
        m_crossFade = new PressAnimator(m_crossFadeSeconds, this);
        connect(m_crossFade, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
        m_crossFade->setPressed(true);
    }
    m_text = text;
    updateGeometry();
    update();
}

void TextBlock::setCrossFade(double seconds) { m_crossFadeSeconds = std::max(0.0, seconds); }

double TextBlock::crossFadeProgress() const { return m_crossFade && m_crossFade->running() ? m_crossFade->value() : 1.0; }

void TextBlock::setColorRole(ZephylPalette::Color color)
{
    m_color = color;
    update();
}

void TextBlock::setMaxLines(int lines)
{
    m_maxLines = std::max(0, lines);
    updateGeometry();
    update();
}

void TextBlock::setLineSpacing(double extra)
{
    m_lineSpacing = extra;
    updateGeometry();
    update();
}

void TextBlock::setCentered(bool centered)
{
    m_centered = centered;
    update();
}

void TextBlock::setBalanced(bool balanced)
{
    m_balanced = balanced;
    updateGeometry();
    update();
}

void TextBlock::setBackground(std::optional<ZephylPalette::Color> fill, double radius)
{
    m_fill = fill;
    m_radius = radius;
    update();
}

void TextBlock::setPreferredWidth(int width)
{
    m_preferredWidth = std::max(1, width);
    updateGeometry();
}

QList<TextBlock::Line> TextBlock::layout(const QString &text, const QFont &font, double width, int maxLines,
                                         Qt::LayoutDirection direction)
{
    QString source = text;
    source.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (source.isEmpty())
        return {};
    width = std::max(1.0, width);
    const QFontMetricsF metrics(font);
    QList<Line> lines;
    // Paragraph by paragraph, each laid out once in its own direction, so no
    // line of it can pick another. A newline at the very end starts no line.
    for (qsizetype start = 0; start < source.size();) {
        qsizetype end = source.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = source.size();
        const QString paragraph = source.mid(start, end - start);
        const Qt::LayoutDirection reads = textDirection(paragraph, direction);
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTextDirection(reads);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString lineText = paragraph.mid(line.textStart(), line.textLength());
            const qsizetype after = start + line.textStart() + line.textLength();
            const bool more = after < source.size() && !(after == end && end + 1 == source.size());
            // Each line is drawn alone: a directional control of a title or a
            // message acts within its own line, never backwards on its letters.
            if (maxLines > 0 && lines.size() == maxLines - 1 && more) {
                // The last line we may show, with text left over: end it in an ellipsis.
                if (after == end) {
                    const QString cut = containedBidi(withoutTrailingSpace(lineText)) + kEllipsis;
                    lines.append({containedBidi(metrics.elidedText(cut, Qt::ElideRight, width)), reads});
                } else {
                    QString rest = source.mid(start + line.textStart());
                    rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
                    const QString shown = metrics.elidedText(containedBidi(rest), Qt::ElideRight, width);
                    lines.append({containedBidi(shown), reads});
                }
                layout.endLayout();
                return lines;
            }
            lines.append({containedBidi(withoutTrailingSpace(lineText)), reads});
        }
        layout.endLayout();
        start = end + 1;
    }
    return lines;
}

QStringList TextBlock::layoutLines(const QString &text, const QFont &font, double width, int maxLines,
                                   Qt::LayoutDirection direction)
{
    QStringList out;
    for (const Line &line : layout(text, font, width, maxLines, direction))
        out << line.text;
    return out;
}

QStringList TextBlock::visibleLines() const
{
    return layoutLines(m_text, font(), breakWidth(contentsRect().width()), m_maxLines, layoutDirection());
}

double TextBlock::breakWidth(double width) const
{
    if (!m_balanced || m_maxLines > 0 || width <= 1)
        return width;
    const auto count = [&](double w) { return layoutLines(m_text, font(), w, 0, layoutDirection()).size(); };
    const auto lines = count(width);
    if (lines < 2)
        return width;
    // The narrowest whole width that keeps the same number of lines, never
    // narrower than a word, so no word is broken that was whole.
    const QFontMetricsF metrics(font());
    double widestWord = 1;
    for (const QString &word : m_text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widestWord = std::max(widestWord, metrics.horizontalAdvance(word));
    int low = std::min(int(std::ceil(widestWord)), int(std::floor(width))), high = int(std::floor(width));
    while (low < high) {
        const int mid = (low + high) / 2;
        if (count(mid) <= lines)
            high = mid;
        else
            low = mid + 1;
    }
    return std::min<double>(width, high);
}

double TextBlock::lineHeight() const
{
    return DesignFonts::lineExtent(font(), containedBidi(QString(m_text).replace(QLatin1Char('\n'), QLatin1Char(' '))))
        .height();
}

double TextBlock::linesHeight(int count) const
{
    if (count <= 0)
        return 0;
    return count * lineHeight() + (count - 1) * m_lineSpacing;
}

double TextBlock::naturalWidth() const
{
    double widest = 0;
    for (const QString &paragraph : m_text.split(QLatin1Char('\n')))
        widest = std::max(widest, DesignFonts::lineExtent(font(), containedBidi(paragraph)).width());
    return std::ceil(widest) + 1;
}

QSize TextBlock::sizeHint() const
{
    const QMargins m = contentsMargins();
    const int width = int(std::ceil(breakWidth(std::min<double>(naturalWidth(), m_preferredWidth))));
    return {width + m.left() + m.right(), heightForWidth(width + m.left() + m.right())};
}

QSize TextBlock::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    const int width = int(std::min(naturalWidth(), QFontMetricsF(font()).averageCharWidth() * 8));
    return {width + m.left() + m.right(), int(std::ceil(linesHeight(1))) + m.top() + m.bottom()};
}

int TextBlock::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    const int lines = int(layoutLines(m_text, font(), width - m.left() - m.right(), m_maxLines, layoutDirection()).size());
    return int(std::ceil(linesHeight(std::max(1, lines)))) + m.top() + m.bottom();
}

void TextBlock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (m_fill) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        painter.fillPath(shape, PaletteColors::color(*m_fill));
    }
    const QRect area = contentsRect();
    const double lineHeight = this->lineHeight();
    Qt::Alignment horizontal = Qt::AlignHCenter;
    if (!m_centered)
        horizontal = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    painter.setFont(font());
    // On a fill of its own the colour must read there (a tone on its soft fill may not).
    const ZephylPalette::Color ink =
        m_fill ? ZephylPalette::legibleOn(m_color, *m_fill, AppearanceService::shared().appearance()) : m_color;
    painter.setPen(PaletteColors::color(ink));
    auto draw = [&](const QString &text, double opacity) {
        const QList<Line> lines = layout(text, font(), breakWidth(area.width()), m_maxLines, layoutDirection());
        // Centre the block vertically when the widget is taller than the text.
        double y = area.top() + std::max(0.0, (area.height() - linesHeight(int(lines.size()))) / 2.0);
        painter.setOpacity(opacity);
        for (const Line &line : lines) {
            // In its paragraph's direction, so an ellipsis ends it where it reads.
            painter.setLayoutDirection(line.direction);
            painter.drawText(QRectF(area.left(), y, area.width(), lineHeight),
                             int(horizontal | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextSingleLine), line.text);
            y += lineHeight + m_lineSpacing;
        }
    };
    const double in = crossFadeProgress();
    if (in < 1)
        draw(m_leaving, 1 - in);
    draw(m_text, in);
}

void TextBlock::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
