#include "design/Titles.h"

#include "design/DesignFonts.h"
#include "design/L10n.h"

#include <QEvent>
#include <QVBoxLayout>

namespace {
// The tracking depends on the effective language, so it is looked up again
// whenever the language or the reading direction may have changed.
bool languageMayHaveChanged(const QEvent *event)
{
    return event->type() == QEvent::LanguageChange || event->type() == QEvent::LayoutDirectionChange;
}
} // namespace

Eyebrow::Eyebrow(const QString &text, QWidget *parent)
    : TextBlock(text.toUpper(), QFont(), ZephylPalette::Color::muted, parent)
{
    applyFont();
}

void Eyebrow::setEyebrowText(const QString &text) { setText(text.toUpper()); }

void Eyebrow::applyFont()
{
    setFont(DesignFonts::tracked(DesignFonts::system(11, DesignFonts::Weight::semibold), L10n::languageTracking(2.2)));
}

void Eyebrow::changeEvent(QEvent *event)
{
    if (languageMayHaveChanged(event))
        applyFont();
    TextBlock::changeEvent(event);
}

ScreenTitle::ScreenTitle(const QString &eyebrow, const QString &title, QWidget *parent)
    : QWidget(parent),
      m_eyebrow(new Eyebrow(eyebrow, this)),
      m_title(new TextBlock(title, QFont(), ZephylPalette::Color::text, this))
{
    m_title->setPreferredWidth(640);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_eyebrow);
    layout->addWidget(m_title);
    applyFont();
}

void ScreenTitle::applyFont()
{
    m_title->setFont(
        DesignFonts::tracked(DesignFonts::serif(34, DesignFonts::Weight::semibold), L10n::languageTracking(-1.2)));
}

void ScreenTitle::changeEvent(QEvent *event)
{
    if (languageMayHaveChanged(event))
        applyFont();
    QWidget::changeEvent(event);
}
