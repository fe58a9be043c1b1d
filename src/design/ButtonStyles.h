#pragma once

#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/ZephylPalette.h"

#include <QPainterPath>
#include <QPushButton>

#include <optional>

class PressAnimator;

// How a button looks: the label's font and colour, the fixed height and padding,
// the shape, fill and outline, and what pressing and disabling do to it.
// `pressed` below is the eased press progress, 0 released and 1 pressed.
struct ButtonStyle {
    double fontSize = 13;
    DesignFonts::Weight weight = DesignFonts::Weight::semibold;
    ZephylPalette::Color labelColor = ZephylPalette::Color::text;
    double horizontalPadding = 12;
    double height = 30;
    double cornerRadius = 10;
    bool capsule = false;
    ZephylPalette::Color fill = ZephylPalette::Color::surfaceSoft;
    double pressedFillOpacity = 1;
    std::optional<ZephylPalette::Color> outline;
    double outlineOpacity = 1;
    double pressedOpacity = 1;
    // 1 for a style that looks the same whether enabled or not.
    double disabledOpacity = 1;
    double pressedScale = 1;
    // Ease-out time of the press; 0 follows the press at once.
    double pressSeconds = 0;

    double opacity(bool enabled, double pressed) const;
    double scale(double pressed) const;
    double fillOpacity(double pressed) const;
    QFont font() const;
    QPainterPath shape(const QRectF &rect) const;
    // The padding either side of a label `content` wide in a button `width`
    // wide: the style's own, given up down to a few points where the button is
    // given less than it asks for, so that its words stay whole.
    double paddingFor(double width, double content) const;
    // The label as it is drawn in `rect`: whole where it fits, else cut with an
    // ellipsis.
    QString shownLabel(const QRectF &rect, const QString &text) const;
    // The label's colour as drawn on the fill: `labelColor`, or the palette's
    // text where that would not read (4.5:1 for words, 3:1 for a symbol).
    ZephylPalette::Color drawnLabel(Appearance appearance, bool symbolOnly) const;
    // Where the ring that shows the keyboard goes round a button of this style.
    FocusRing::Outline ringOutline() const;
    // Draws fill, outline and label (text, or a symbol when there is no text).
    void paint(QPainter &painter, const QRectF &rect, const QString &text, const QString &symbol, bool enabled,
               double pressed, Appearance appearance, Qt::LayoutDirection direction) const;
};

struct PrimaryButtonStyle : ButtonStyle {
    explicit PrimaryButtonStyle(bool compact = false);
};

struct QuietButtonStyle : ButtonStyle {
    explicit QuietButtonStyle(bool compact = false);
};

struct ChipButtonStyle : ButtonStyle {
    ChipButtonStyle();
};

// A push button drawn entirely by its ButtonStyle. The label is plain text.
class StyledButton final : public QPushButton {
    Q_OBJECT
public:
    StyledButton(const QString &text, const ButtonStyle &style, QWidget *parent = nullptr);

    const ButtonStyle &buttonStyle() const { return m_style; }
    void setButtonStyle(const ButtonStyle &style);
    // A symbol from the icon set, shown when the button has no text.
    void setSymbol(const QString &symbol);
    // For a button on a ground that keeps one appearance whatever the
    // application's: drawn in that appearance's values. Unset, it follows.
    void setFixedAppearance(std::optional<Appearance> appearance);
    Appearance drawnAppearance() const;

    // The label as it is drawn at the button's width.
    QString shownText() const { return m_style.shownLabel(QRectF(rect()), text()); }

    double pressProgress() const;
    double currentOpacity() const;
    double currentScale() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void followPressed();

    ButtonStyle m_style;
    QString m_symbol;
    PressAnimator *m_press = nullptr;
    std::optional<Appearance> m_fixedAppearance;
};
