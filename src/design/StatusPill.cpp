#include "design/StatusPill.h"

#include "design/DesignFonts.h"

#include <algorithm>

using ZephylPalette::Color;

namespace {
constexpr int kMinimumHeight = 22;
}

StatusPill::StatusPill(const QString &text, PillTone tone, QWidget *parent)
    : TextBlock(text, DesignFonts::system(11, DesignFonts::Weight::semibold), textColor(tone), parent), m_tone(tone)
{
    setContentsMargins(9, 4, 9, 4);
    setCentered(true);
    setBalanced(true);
    setBackground(fillColor(tone), 11);
    setPreferredWidth(240);
    QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void StatusPill::setTone(PillTone tone)
{
    m_tone = tone;
    setColorRole(textColor(tone));
    setBackground(fillColor(tone), 11);
}

Color StatusPill::textColor(PillTone tone)
{
    switch (tone) {
    case PillTone::accent: return Color::accent;
    case PillTone::settled: return Color::settled;
    case PillTone::attention: return Color::attention;
    case PillTone::neutral: break;
    }
    return Color::muted;
}

Color StatusPill::fillColor(PillTone tone)
{
    switch (tone) {
    case PillTone::accent: return Color::accentSoft;
    case PillTone::settled: return Color::settledSoft;
    case PillTone::attention: return Color::attentionSoft;
    case PillTone::neutral: break;
    }
    return Color::surfaceSoft;
}

QSize StatusPill::sizeHint() const
{
    const QSize hint = TextBlock::sizeHint();
    return {hint.width(), std::max(hint.height(), kMinimumHeight)};
}

QSize StatusPill::minimumSizeHint() const
{
    const QSize hint = TextBlock::minimumSizeHint();
    return {hint.width(), std::max(hint.height(), kMinimumHeight)};
}

int StatusPill::heightForWidth(int width) const { return std::max(TextBlock::heightForWidth(width), kMinimumHeight); }
