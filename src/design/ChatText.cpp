#include "design/ChatText.h"
#include "design/TextDirection.h"

#include "design/AppearanceService.h"
#include "design/DesignFonts.h"
#include "design/PaletteColors.h"

#include <QFontMetrics>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

ChatText::ChatText(const QString &text, double fontSize, double lineSpacing, QWidget *parent)
    : QTextEdit(parent), m_measure(new QTextDocument(this))
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Words to read, not a control: Tab passes them by; a click still lets the
    // keys extend a selection.
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    viewport()->setAutoFillBackground(false);
    // A long link or a word without spaces breaks where it must.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const QFont font = DesignFonts::system(fontSize, DesignFonts::Weight::regular);
    for (QTextDocument *doc : {document(), m_measure}) {
        doc->setDocumentMargin(0);
        doc->setDefaultFont(font);
        QTextOption option = doc->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        // Each paragraph reads in its own script's direction, whatever the interface's.
        option.setTextDirection(Qt::LayoutDirectionAuto);
        doc->setDefaultTextOption(option);
        // A message's own directional controls act within its paragraphs alone.
        doc->setPlainText(containedBidi(text));
        QTextCursor all(doc);
        all.select(QTextCursor::Document);
        QTextBlockFormat spacing;
        spacing.setLineHeight(lineSpacing, QTextBlockFormat::LineDistanceHeight);
        all.mergeBlockFormat(spacing);
    }
    setFont(font);
    applyColors();
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, [this] { applyColors(); });
}

QSize ChatText::sizeHint() const
{
    // The longest line's natural width, so a short message keeps a short bubble.
    m_measure->setTextWidth(-1);
    const int width = int(std::ceil(std::min(m_measure->idealWidth() + 2, 2000.0)));
    return {width, heightForWidth(width)};
}

// The layout asks for the height at the width it gives (heightForWidth); the
// minimum is one line, not the column of a 40-point-wide message.
QSize ChatText::minimumSizeHint() const { return {40, QFontMetrics(font()).lineSpacing()}; }

int ChatText::heightForWidth(int width) const
{
    m_measure->setTextWidth(std::max(1, width));
    return int(std::ceil(m_measure->size().height()));
}

void ChatText::wheelEvent(QWheelEvent *event)
{
    // Nothing to scroll here: the conversation scrolls.
    event->ignore();
}

void ChatText::applyColors()
{
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, PaletteColors::color(Color::text));
    QColor selection = PaletteColors::color(Color::accent);
    selection.setAlphaF(0.3f);
    p.setColor(QPalette::Highlight, selection);
    p.setColor(QPalette::HighlightedText, PaletteColors::color(Color::text));
    setPalette(p);
}
