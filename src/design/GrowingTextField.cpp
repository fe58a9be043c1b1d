#include "design/GrowingTextField.h"

#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/PaletteColors.h"
#include "design/PasteGuard.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

namespace {
// Puts an entry's text on its layout's leading side whenever the layout turns.
class LeadingSide final : public QObject {
public:
    explicit LeadingSide(QPlainTextEdit *edit) : QObject(edit), m_edit(edit)
    {
        edit->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_edit && event->type() == QEvent::LayoutDirectionChange)
            apply();
        return false;
    }

private:
    void apply()
    {
        // The plain-text layout does not mirror a non-absolute alignment, so
        // name the side outright; the direction stays each paragraph's own.
        QTextOption option = m_edit->document()->defaultTextOption();
        const Qt::Alignment side = m_edit->layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
        option.setAlignment(side | Qt::AlignAbsolute);
        m_edit->document()->setDefaultTextOption(option);
    }

    QPlainTextEdit *m_edit;
};
} // namespace

void alignToLeadingSide(QPlainTextEdit *edit)
{
    new LeadingSide(edit);
    PasteGuard::install(); // every multi-line entry comes here: a paste goes through the guard
}

GrowingTextField::GrowingTextField(const QString &placeholder, int maxLines, QWidget *parent)
    : QPlainTextEdit(parent), m_maxLines(std::max(1, maxLines))
{
    setPlaceholderText(placeholder);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBars::follow(verticalScrollBar()); // shown past the last line it grows to
    setTabChangesFocus(true);
    document()->setDocumentMargin(2);
    alignToLeadingSide(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    applyColors();
    connect(document(), &QTextDocument::contentsChanged, this, &GrowingTextField::fitHeight);
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this,
            &GrowingTextField::applyColors);
    fitHeight();
}

void GrowingTextField::setText(const QString &text)
{
    if (text != toPlainText())
        setPlainText(text);
}

void GrowingTextField::setMaxLines(int lines)
{
    m_maxLines = std::max(1, lines);
    fitHeight();
}

int GrowingTextField::contentLineCount() const
{
    int lines = 0;
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        layout->blockBoundingRect(block); // lays the block out at the current width
        const QTextLayout *text = block.layout();
        lines += (text && text->lineCount() > 0) ? text->lineCount() : 1;
    }
    return std::max(1, lines);
}

int GrowingTextField::visibleLineCount() const { return std::clamp(contentLineCount(), 1, m_maxLines); }

int GrowingTextField::heightForLines(int lines) const
{
    // The tallest line shown, as a script of another face may stand taller
    // than the first face's own lines.
    double lineHeight = DesignFonts::lineExtent(font(), placeholderText()).height();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (const QTextLayout *text = block.layout()) {
            for (int i = 0; i < text->lineCount(); ++i)
                lineHeight = std::max(lineHeight, text->lineAt(i).height());
        }
    }
    const QMargins m = contentsMargins();
    return int(std::ceil(lines * lineHeight + 2 * document()->documentMargin())) + m.top() + m.bottom() +
           2 * frameWidth();
}

QSize GrowingTextField::sizeHint() const { return {240, heightForLines(visibleLineCount())}; }

QSize GrowingTextField::minimumSizeHint() const { return {60, heightForLines(1)}; }

void GrowingTextField::fitHeight()
{
    const int content = contentLineCount();
    setVerticalScrollBarPolicy(content > m_maxLines ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const int height = heightForLines(std::clamp(content, 1, m_maxLines));
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
    if (content <= m_maxLines)
        verticalScrollBar()->setValue(0);
}

void GrowingTextField::applyColors()
{
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, PaletteColors::color(Color::text));
    p.setColor(QPalette::PlaceholderText, PaletteColors::color(Color::muted));
    setPalette(p);
    viewport()->setAutoFillBackground(false);
}

void GrowingTextField::keyPressEvent(QKeyEvent *event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (returnKey && !(event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
        Q_EMIT submitted();
        event->accept();
        return;
    }
    if (returnKey) {
        insertPlainText(QStringLiteral("\n"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void GrowingTextField::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    fitHeight(); // a new width re-wraps the text
}

void GrowingTextField::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitHeight();
}
