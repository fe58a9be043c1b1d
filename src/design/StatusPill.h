#pragma once

#include "design/AppNotice.h"
#include "design/TextBlock.h"

// A small rounded label for a state: centred text that wraps rather than being
// cut, coloured by tone.
class StatusPill final : public TextBlock {
    Q_OBJECT
public:
    StatusPill(const QString &text, PillTone tone, QWidget *parent = nullptr);

    PillTone tone() const { return m_tone; }
    void setTone(PillTone tone);

    static ZephylPalette::Color textColor(PillTone tone);
    static ZephylPalette::Color fillColor(PillTone tone);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

private:
    PillTone m_tone;
};
