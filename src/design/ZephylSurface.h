#pragma once

#include "design/ZephylPalette.h"

#include <QColor>
#include <QImage>
#include <QMargins>
#include <QPen>
#include <QRectF>
#include <QWidget>

#include <optional>

class QPainter;

// The card surface of panels and cards: a rounded fill in `surface` with an
// optional soft shadow beneath, and a faint outline drawn over the content.
struct ZephylSurfaceModifier {
    double radius = 16;
    bool raised = false;

    // Clear when not raised.
    QColor shadowColor(Appearance appearance) const;
    double shadowBlur(Appearance appearance) const;
    double shadowOffsetY(Appearance appearance) const;
    QColor strokeColor(Appearance appearance) const;
    // Room the shadow needs around the card (none when not raised).
    QMargins shadowMargins(Appearance appearance) const;

    // Shadow and fill, behind the content.
    // A shadow already made by shadowImage() for this card may be passed in.
    void paintBackground(QPainter &painter, const QRectF &card, Appearance appearance,
                         const QImage &shadow = QImage()) const;
    // The outline, over the content; with `pen` where given.
    void paintStroke(QPainter &painter, const QRectF &card, Appearance appearance,
                     std::optional<QPen> pen = std::nullopt) const;
    // The blurred shadow for a card of `size`, to be drawn at the card's top-left
    // minus `shadowMargins()` (offset included).
    QImage shadowImage(QSizeF size, Appearance appearance) const;
};

// A container drawn with the card surface. It keeps room for the shadow in its
// contents margins, so a layout set on it places children on the card; the outline
// is drawn above the children.
class ZephylSurface : public QWidget {
    Q_OBJECT
public:
    ZephylSurface(double radius, bool raised, QWidget *parent = nullptr);

    const ZephylSurfaceModifier &modifier() const { return m_modifier; }
    // The card within the widget, without the shadow's room.
    QRectF cardRect() const;
    // The outline: the focus ring while a field it is the box of has the
    // keyboard (FieldRing::follow).
    QPen strokePen() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyMargins();

    ZephylSurfaceModifier m_modifier;
    QWidget *m_stroke = nullptr;
    // The blurred shadow is kept while the card's size and appearance stay.
    QImage m_shadow;
    QSizeF m_shadowFor;
    Appearance m_shadowAppearance = Appearance::light;
};
