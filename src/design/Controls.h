#pragma once

#include "design/DesignFonts.h"
#include "design/ZephylPalette.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QMarginsF>
#include <QPainterPath>
#include <QScrollBar>
#include <QStringList>
#include <QWidget>

#include <optional>

class QPainter;

// The few platform controls the screens use, drawn in the palette: a switch, a
// segmented picker, a stepper, a menu picker, a rounded text field and a date
// and time field. Each signals only what the user did; setting a value from
// code is silent, so a control bound to the state object never writes back
// what it was just told.

// Focus rings show only for focus that came from the keyboard (Tab, or a key
// that closed what had the keyboard and handed it back), as the platform's do:
// a click or a window coming forward focuses without a ring.
//
// Every control draws its ring the same way: a line in the palette's text
// colour (the ink that stands out most from every ground of the appearance),
// 2 wide, 2 outside the control's edge with the ground showing between. It
// never sits on the control's own fill, so it shows round a white button on
// black as round a near-black one on light paper, and it reads unlike the
// accent that marks what is chosen or on. It is drawn above the window's
// other widgets, so a neighbour or the container the control sits in never
// cuts it; only a scroller's view does, past which the control is out of sight,
// and a layer come over the control (coverRings), which hides it.
namespace FocusRing {
// Room the ring takes round a control's edge: its gap, then its line.
constexpr double kGap = 2;
constexpr double kWidth = 2;
constexpr int kReach = 4;

// Where a control's edge is, for its ring to go round.
struct Outline {
    // The corners' radius; half the control's height or more is a capsule
    // (a circle when it is as wide as high).
    double radius = 8;
    // The edge within the widget's rectangle.
    QMarginsF inset;
    // On the edge, inside it, rather than round it: for a part of a control
    // whose neighbour touches it (a stepper's halves).
    bool inside = false;
};

// Follows the widget's focus events from now on, and rings it while shown();
// a button among them is pressed by Return and Enter as by Space (ReturnKey).
void track(QWidget *widget);
bool shown(const QWidget *widget);
// Gives `widget` the keyboard on the user's behalf (a screen or a dialog they
// opened): ringed, as focus Tab moved is, when a key was their last doing,
// also where its window hands the focus out only as it comes forward.
void give(QWidget *widget);
// The ring round `widget` goes round `outline` (a rounded rectangle of radius
// 8 on its rectangle until told).
void setOutline(QWidget *widget, const Outline &outline);
// The widget draws its own ring inside its edge, in two tones that show on a
// picture of any colour (a grid tile, a mark on a picture): none is drawn round it.
void drawnByControl(QWidget *widget);
// A layer that comes over controls and hides them (a notice over the screen):
// their ring goes under it, as they do, rather than over it.
void coverRings(QWidget *layer);
// For a control on a ground that keeps one appearance whatever the
// application's: its ring in that appearance's colour. Unset, it follows.
void setFixedAppearance(QWidget *widget, std::optional<Appearance> appearance);
// The ring's colour in an appearance.
QColor color(Appearance appearance);
// The same in the current appearance.
QColor color();
// The ring's line (the middle of its stroke) round a control whose edge is
// `edge` with corners of `radius`, in the edge's coordinates.
QPainterPath path(const QRectF &edge, double radius, bool inside = false);
// Rings a control the toolkit draws (a check box, a radio button) as the
// others are, round its mark and its words, in place of the toolkit's faint
// focus frame; Return and Enter press it as Space does.
void strengthen(QAbstractButton *control);
} // namespace FocusRing
Q_DECLARE_METATYPE(FocusRing::Outline)

// Scroll bars as a thin rounded thumb in the palette's colours, with no arrows
// and no track, as the design's overlay scrollers look.
namespace ScrollBars {
// Gives `bar` that look from now on, redrawn when the appearance changes.
void follow(QScrollBar *bar);
} // namespace ScrollBars

// A text field's box ringed while the field has the keyboard, however it came
// there: the rounded fields, the menu picker, and boxes drawn round an entry by
// the screen that holds it.
namespace FieldRing {
// Makes `box` the box of `field`, repainted whenever the field takes the
// keyboard or gives it up.
void follow(QWidget *field, QWidget *box);
// The outline of `box`, or of a field that draws its own: a hairline of `rest`;
// while the field has the keyboard, 2 wide in the ring's colour, which stands
// out from every ground the box is put on.
QPen pen(const QWidget *box, const QColor &rest);
// `rect` rounded by `radius`, filled with `ground` and outlined inside its edge.
void paint(QPainter &painter, const QWidget *box, const QRectF &rect, double radius, const QColor &rest,
           ZephylPalette::Color ground = ZephylPalette::Color::surface);
} // namespace FieldRing

// Menus (a menu picker's list, a menu bar, its menus, the tray's menu, and every
// menu through MenuLook) and the date field's calendar in the palette's colours
// rather than the toolkit's light ones.
namespace MenuColors {
// `palette` with `ground` behind the items, the palette's text on it and the
// soft accent under the pointer, for the current appearance.
QPalette applied(QPalette palette, ZephylPalette::Color ground = ZephylPalette::Color::surface);
// Gives `widget` those colours now and again whenever the appearance changes.
void follow(QWidget *widget, ZephylPalette::Color ground = ZephylPalette::Color::surface);
} // namespace MenuColors

// An on/off switch with no visible label (its name is for assistive technology).
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString &accessibleName = QString(), QWidget *parent = nullptr);

    // Silent: no signal.
    void setOn(bool on);
    bool isOn() const { return isChecked(); }

    QSize sizeHint() const override { return {38, 22}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user flipped it.
    void switched(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A row of mutually exclusive segments, one of them chosen.
class SegmentedPicker final : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QStringList &segments, int width, QWidget *parent = nullptr);

    QStringList segments() const { return m_segments; }
    int currentIndex() const { return m_current; }
    // Silent: no signal.
    void setCurrentIndex(int index);
    // The segment under a point, -1 for none.
    int segmentAt(const QPoint &point) const;
    // Where a segment is drawn (mirrored in right-to-left layouts).
    QRectF segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user chose a segment (also the one already chosen).
    void chosen(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The room a label keeps from its segment's edges, together.
    static constexpr double kSegmentInset = 8;

    QStringList m_segments;
    int m_current = -1;
    int m_width;
};

// Two small buttons that step a whole number within a range.
class Stepper final : public QWidget {
    Q_OBJECT
public:
    Stepper(int minimum, int maximum, int step, QWidget *parent = nullptr);

    int value() const { return m_value; }
    // Names the two halves for what they do to the setting ("Decrease session
    // length"), as they show only a minus and a plus.
    void setNames(const QString &decrease, const QString &increase);
    // Silent: no signal. A value outside the range is kept; a step brings it inside.
    void setValue(int value);
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }

    // What one press gives: the value moved by a step and kept within the range.
    int incremented() const;
    int decremented() const;
    void stepUp();
    void stepDown();
    QAbstractButton *upButton() const { return m_up; }
    QAbstractButton *downButton() const { return m_down; }

Q_SIGNALS:
    void stepped(int value);

private:
    void moveTo(int next);
    void sync();

    int m_minimum;
    int m_maximum;
    int m_step;
    int m_value;
    QAbstractButton *m_down;
    QAbstractButton *m_up;
};

// A pop-up menu of choices shown as a rounded field with a chevron.
class MenuPicker final : public QComboBox {
    Q_OBJECT
public:
    MenuPicker(const QStringList &choices, int width, QWidget *parent = nullptr);

    // Silent: no signal.
    void setCurrent(int index);

Q_SIGNALS:
    // The user picked a choice.
    void picked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyColors();
};

// A single-line text field on a rounded fill with a hairline outline. The text
// is always plain.
class RoundedField final : public QLineEdit {
    Q_OBJECT
public:
    struct Look {
        double fontSize = 14;
        double radius = 12;
        int height = 42;
        int padding = 14;
        ZephylPalette::Color fill = ZephylPalette::Color::surface;
    };

    RoundedField(const QString &placeholder, const Look &look, QWidget *parent = nullptr);
    RoundedField(const QString &placeholder, QWidget *parent = nullptr) : RoundedField(placeholder, Look(), parent) {}

    // Silent when the text is the same; keeps the cursor where it can.
    void setTextKeepingCursor(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyColors();

    Look m_look;
};

// A date and time field in the language in use, written as the application
// writes its dates, read in the window's direction. A date-time edit that is
// right to left when it takes its format turns its fields round for good
// (minutes before hours, the year before the day); this one keeps them in the
// language's order, so an Arabic or Hebrew date reads right to left as the
// plan's do, and the arrow keys walk the fields in that order, mirrored
// right to left (the one toward the reading end goes to the next field);
// Tab leaves the field for the next control.
class DateTimeField final : public QDateTimeEdit {
    Q_OBJECT
public:
    explicit DateTimeField(QWidget *parent = nullptr);

    // Wide enough for every date and time the format can show, not only for
    // the range's two ends as the base measures: a month of a longer name, an
    // hour of two digits, a wider mark for the afternoon, would push the first
    // field out of sight.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // The language's locale and format, taken while laid out left to right.
    void applyLanguage();

    // Room between the text and the field's edges, each side.
    static constexpr int kTextInset = 4;
    // The hint, and the format, locale and font it was measured for.
    mutable QSize m_hint;
    mutable QString m_hintFor;
};
