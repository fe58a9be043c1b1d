#include "companion/SpeechBubble.h"
#include "design/L10n.h"
#include "design/TextDirection.h"

#include "companion/ShadowPainter.h"
#include "design/PaletteColors.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

QPainterPath BubbleShape::path(const QRectF &rect) const
{
    const double tailH = std::max(0.0, tail);
    const double bodyTop = tailEdge == Edge::bottom ? rect.top() : rect.top() + tailH;
    const QRectF b(rect.left(), bodyTop, rect.width(), std::max(0.0, rect.height() - tailH));
    const double r = std::max(0.0, std::min({radius, b.width() / 2, b.height() / 2}));
    const double lo = b.left() + r + 8, hi = b.right() - r - 8;
    const double tx = lo < hi ? std::min(std::max(b.center().x() + tailOffset, lo), hi) : b.center().x();
    const bool drawTail = tail > 0 && lo < hi;

    QPainterPath p;
    p.moveTo(b.left() + r, b.top());
    if (drawTail && tailEdge == Edge::top) {
        p.lineTo(tx - 9, b.top());
        p.quadTo(QPointF(tx - 5, b.top() - 0.45 * tail), QPointF(tx - 2, b.top() - tail));
        p.quadTo(QPointF(tx + 2, b.top() - 0.6 * tail), QPointF(tx + 9, b.top()));
    }
    p.lineTo(b.right() - r, b.top());
    if (r > 0)
        p.arcTo(QRectF(b.right() - 2 * r, b.top(), 2 * r, 2 * r), 90, -90);
    p.lineTo(b.right(), b.bottom() - r);
    if (r > 0)
        p.arcTo(QRectF(b.right() - 2 * r, b.bottom() - 2 * r, 2 * r, 2 * r), 0, -90);
    if (drawTail && tailEdge == Edge::bottom) {
        p.lineTo(tx + 9, b.bottom());
        p.quadTo(QPointF(tx + 5, b.bottom() + 0.45 * tail), QPointF(tx + 2, b.bottom() + tail));
        p.quadTo(QPointF(tx - 2, b.bottom() + 0.6 * tail), QPointF(tx - 9, b.bottom()));
    }
    p.lineTo(b.left() + r, b.bottom());
    if (r > 0)
        p.arcTo(QRectF(b.left(), b.bottom() - 2 * r, 2 * r, 2 * r), 270, -90);
    p.lineTo(b.left(), b.top() + r);
    if (r > 0)
        p.arcTo(QRectF(b.left(), b.top(), 2 * r, 2 * r), 180, -90);
    p.closeSubpath();
    return p;
}

namespace {

QFont bubbleFont()
{
    QFont font;
    font.setPixelSize(int(SpeechBubble::kFontSize));
    font.setWeight(QFont::Medium);
    return font;
}

struct Laid {
    std::unique_ptr<QTextLayout> layout;
    QString elidedTail; // the last line, elided, when the text runs past four lines
    double lastLineY = 0;
    double width = 0;
    double height = 0;
    bool rightToLeft = false;
};

// Wraps at the maximum width; the text is as wide as its widest line.
std::shared_ptr<const Laid> layText(const QString &given, bool rightToLeft, const QFont &font)
{
    // A line may carry the user's or the service's words: their controls act within them.
    const QString text = containedBidi(given);
    const auto laid = std::make_shared<Laid>();
    Laid &out = *laid;
    out.rightToLeft = rightToLeft;
    out.layout = std::make_unique<QTextLayout>(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(out.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    // Qt's own alignment is switched off: each line is placed explicitly below.
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    out.layout->setTextOption(option);
    out.layout->beginLayout();
    double y = 0;
    int count = 0;
    for (;;) {
        QTextLine line = out.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(SpeechBubble::kMaxTextWidth);
        ++count;
        if (count == SpeechBubble::kMaxLines && line.textStart() + line.textLength() < text.size()) {
            // The fourth line carries the rest of the text, elided at the width.
            const QString rest = text.mid(line.textStart()).simplified();
            QFontMetricsF metrics(font);
            out.elidedTail = metrics.elidedText(rest, Qt::ElideRight, SpeechBubble::kMaxTextWidth);
            out.lastLineY = y;
            out.width = std::max(out.width, metrics.horizontalAdvance(out.elidedTail));
            line.setPosition(QPointF(0, y));
            y += line.height();
            break;
        }
        line.setPosition(QPointF(0, y));
        out.width = std::max(out.width, line.naturalTextWidth());
        y += line.height();
        if (count == SpeechBubble::kMaxLines)
            break;
        y += SpeechBubble::kLineSpacing;
    }
    out.layout->endLayout();
    out.width = std::min(std::ceil(out.width), SpeechBubble::kMaxTextWidth);
    out.height = std::ceil(y);
    return laid;
}

// A bubble's text stays the same while it is shown, but it is measured and
// painted every frame: the last few layouts are kept, found by everything they
// depend on.
std::shared_ptr<const Laid> layText(const SpeechBubble &bubble)
{
    struct Entry {
        QString text;
        bool rightToLeft;
        QFont font;
        std::shared_ptr<const Laid> laid;
    };
    thread_local std::vector<Entry> recent;
    const QFont font = bubbleFont();
    // Read as every paragraph of the interface is: a Hebrew or Arabic line
    // that opens with a handle or a Latin name still reads from the right.
    const Qt::LayoutDirection direction = bubble.direction == Qt::LayoutDirectionAuto
                                              ? textDirection(bubble.text, L10n::layoutDirection())
                                              : bubble.direction;
    const bool rightToLeft = direction == Qt::RightToLeft;
    for (auto it = recent.begin(); it != recent.end(); ++it) {
        if (it->rightToLeft == rightToLeft && it->text == bubble.text && it->font == font) {
            std::rotate(recent.begin(), it, it + 1);
            return recent.front().laid;
        }
    }
    auto laid = layText(bubble.text, rightToLeft, font);
    if (recent.size() >= 4)
        recent.pop_back();
    recent.insert(recent.begin(), Entry{bubble.text, rightToLeft, font, laid});
    return laid;
}

// The finished bubble with its shadow, for the bubbles last painted.
struct Finished {
    QString text;
    bool rightToLeft = false;
    QFont font;
    double tailOffset = 0;
    BubbleShape::Edge tailEdge = BubbleShape::Edge::bottom;
    double tailHeight = 0;
    QColor fill, ink, edge;
    ShadowPainter::Cache image;

    bool sameAs(const Finished &o) const
    {
        return rightToLeft == o.rightToLeft && tailOffset == o.tailOffset && tailEdge == o.tailEdge &&
               tailHeight == o.tailHeight && fill == o.fill && ink == o.ink && edge == o.edge && text == o.text &&
               font == o.font;
    }
};

} // namespace

double SpeechBubble::tailPadding() const { return std::max(0.0, tailHeight); }

SpeechBubble::Layout SpeechBubble::layout() const
{
    const auto shared = layText(*this);
    const Laid &laid = *shared;
    Layout l;
    l.textSize = QSizeF(laid.width, laid.height);
    l.bubbleSize = QSizeF(laid.width + 28, laid.height + 20 + tailPadding());
    l.lineCount = laid.layout->lineCount();
    l.elided = !laid.elidedTail.isEmpty();
    l.rightToLeft = laid.rightToLeft;
    return l;
}

QRectF SpeechBubble::textRect() const
{
    const auto laid = layText(*this);
    const double top = 10 + (tailEdge == BubbleShape::Edge::bottom ? 0 : tailPadding());
    return QRectF(14, top, laid->width, laid->height);
}

void SpeechBubble::paint(QPainter &painter) const
{
    const auto shared = layText(*this);
    const Laid &laid = *shared;
    const QSizeF size(laid.width + 28, laid.height + 20 + tailPadding());
    const double textTop = 10 + (tailEdge == BubbleShape::Edge::bottom ? 0 : tailPadding());
    const BubbleShape shape{16, tailHeight, tailOffset, tailEdge};
    const QPainterPath outline = shape.path(QRectF(QPointF(0, 0), size));
    using C = ZephylPalette::Color;
    const QColor fill = surface ? *surface : PaletteColors::color(C::surface);
    const QColor ink = textColor ? *textColor : PaletteColors::color(C::text);
    const QColor edge = line ? *line : PaletteColors::color(C::line);

    // Found by everything the drawing depends on, resolved colours included, so
    // a new text or appearance never shows an old bubble.
    Finished wanted{text, laid.rightToLeft, bubbleFont(), tailOffset, tailEdge, tailHeight, fill, ink, edge, {}};
    thread_local std::vector<std::unique_ptr<Finished>> finished;
    auto found = std::find_if(finished.begin(), finished.end(), [&](const auto &f) { return f->sameAs(wanted); });
    if (found == finished.end()) {
        if (finished.size() >= 2)
            finished.pop_back();
        finished.insert(finished.begin(), std::make_unique<Finished>(std::move(wanted)));
    } else {
        std::rotate(finished.begin(), found, found + 1);
    }
    ShadowPainter::Cache &cache = finished.front()->image;

    ShadowPainter::paint(painter, QRectF(QPointF(0, 0), size), 1, {{QColor(0, 0, 0, 41), 10, {0, 4}}},
                         [&](QPainter &p) {
                             p.setRenderHint(QPainter::Antialiasing);
                             p.setPen(Qt::NoPen);
                             p.setBrush(fill);
                             p.drawPath(outline);

                             p.setPen(ink);
                             const int lines = laid.layout->lineCount();
                             // Lines sit at the leading edge of the text's own direction.
                             for (int i = 0; i < lines; ++i) {
                                 if (!laid.elidedTail.isEmpty() && i == lines - 1)
                                     break;
                                 const QTextLine line = laid.layout->lineAt(i);
                                 const double dx = laid.rightToLeft ? 14 + laid.width - line.naturalTextWidth() : 14;
                                 line.draw(&p, QPointF(dx, textTop));
                             }
                             if (!laid.elidedTail.isEmpty()) {
                                 p.setFont(bubbleFont());
                                 p.setLayoutDirection(laid.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
                                 const QRectF r(14, textTop + laid.lastLineY, laid.width,
                                                laid.height - laid.lastLineY + 2);
                                 p.drawText(r, Qt::AlignLeading | Qt::AlignTop | Qt::TextSingleLine, laid.elidedTail);
                             }

                             p.setPen(QPen(edge, 1));
                             p.setBrush(Qt::NoBrush);
                             p.drawPath(outline);
                         },
                         &cache);
}
