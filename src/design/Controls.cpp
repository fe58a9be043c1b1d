#include "design/Controls.h"
#include "design/PasteGuard.h"
#include "design/TextDirection.h"

#include "design/AppearanceService.h"
#include "design/DateText.h"
#include "design/EventTargets.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/ReturnKey.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QCalendarWidget>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QRadioButton>
#include <QRegion>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionSpinBox>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

namespace {
// The one `Style` of the whole process: it lives as long as the application,
// like the widgets that use it.
template <typename Style>
Style *sharedStyle()
{
    static Style *style = [] {
        auto *s = new Style;
        s->setParent(qApp);
        return s;
    }();
    return style;
}

QColor faded(QColor color, double alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

// A soft shadow under a raised knob or segment.
void softShadow(QPainter &painter, const QPainterPath &shape)
{
    const bool dark = AppearanceService::shared().appearance() == Appearance::dark;
    painter.save();
    painter.translate(0, 0.8);
    painter.fillPath(shape, QColor(0, 0, 0, dark ? 90 : 40));
    painter.restore();
}
} // namespace

// ---- FocusRing

namespace {
const char *const kKeyboardFocus = "zkKeyboardFocus";
const char *const kTracked = "zkFocusTracked";
const char *const kOutline = "zkRingOutline";
const char *const kOwnRing = "zkOwnRing";
const char *const kRingAppearance = "zkRingAppearance";
const char *const kCovers = "zkCoversRings";

// Draws the ring of the control the keyboard is on, round it, above the rest
// of its window: one for each window, made when a control of it is first
// ringed, covering only the ring and letting every click through.
class RingHalo final : public QWidget {
public:
    explicit RingHalo(QWidget *window) : QWidget(window)
    {
        setObjectName(QStringLiteral("zkFocusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
        // Above what comes into the window later (a screen built anew).
        window->installEventFilter(this);
        connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, [this] { update(); });
    }

    // The halo of `window`, if it has one yet.
    static RingHalo *existing(const QWidget *window)
    {
        return window->findChild<RingHalo *>(QStringLiteral("zkFocusRing"), Qt::FindDirectChildrenOnly);
    }
    // The halo of `window`, made on first use.
    static RingHalo *of(QWidget *window)
    {
        if (RingHalo *halo = existing(window))
            return halo;
        return new RingHalo(window);
    }

    void follow(QWidget *control)
    {
        if (m_control != control) {
            unwatch();
            m_control = control;
            for (QWidget *w = control; w && w != parentWidget(); w = w->parentWidget()) {
                w->installEventFilter(this);
                m_watched << w;
            }
            // Gone with the keyboard on it: nothing left to ring.
            m_gone = connect(control, &QObject::destroyed, this, &QWidget::hide);
        }
        place();
    }

    void drop(QWidget *control)
    {
        if (m_control != control)
            return;
        unwatch();
        m_control = nullptr;
        hide();
    }

    // Placed again, something over its control having come, moved or gone.
    void refresh()
    {
        if (m_control)
            place();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget()) {
            const QObject *child = event->type() == QEvent::ChildAdded ? static_cast<QChildEvent *>(event)->child() : nullptr;
            if (child && child != this && child->isWidgetType())
                raise();
            return QObject::eventFilter(watched, event);
        }
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            place();
            break;
        case QEvent::ParentChange:
            // Out of this window, or under other containers: followed afresh.
            if (QPointer<QWidget> control = m_control.data()) {
                drop(control);
                if (FocusRing::shown(control))
                    RingHalo::of(control->window())->follow(control);
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override
    {
        if (!m_control)
            return;
        const Appearance appearance = m_control->property(kRingAppearance).isValid()
                                          ? Appearance(m_control->property(kRingAppearance).toInt())
                                          : AppearanceService::shared().appearance();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRegion(m_clip.translated(-pos()));
        painter.translate(m_control->mapTo(parentWidget(), QPoint()) - pos());
        painter.setPen(QPen(FocusRing::color(appearance), FocusRing::kWidth));
        painter.setBrush(Qt::NoBrush);
        const FocusRing::Outline outline = outlineOf(m_control);
        painter.drawPath(FocusRing::path(QRectF(m_control->rect()) - outline.inset, outline.radius, outline.inside));
    }

private:
    static FocusRing::Outline outlineOf(const QWidget *control)
    {
        const QVariant set = control->property(kOutline);
        return set.isValid() ? set.value<FocusRing::Outline>() : FocusRing::Outline();
    }

    void unwatch()
    {
        for (const QPointer<QWidget> &w : std::as_const(m_watched))
            if (w)
                w->removeEventFilter(this);
        m_watched.clear();
        disconnect(m_gone);
    }

    // Over the ring, within every scroller's view round the control (past
    // it the control is out of sight): hidden when there is nothing to draw.
    void place()
    {
        QWidget *window = parentWidget();
        if (!m_control || !FocusRing::shown(m_control) || !m_control->isVisible() || m_control->window() != window) {
            hide();
            return;
        }
        const QPoint at = m_control->mapTo(window, QPoint());
        QRect clip = window->rect();
        for (QWidget *up = m_control->parentWidget(); up && up != window; up = up->parentWidget()) {
            const auto *area = qobject_cast<QAbstractScrollArea *>(up->parentWidget());
            if (area && area->viewport() == up)
                clip &= QRect(up->mapTo(window, QPoint()), up->size());
        }
        // Less what stands over the control, hiding it (a notice come over
        // the screen): the ring goes under that as the control does.
        QRegion shown(clip);
        for (QWidget *w = m_control; w != window; w = w->parentWidget()) {
            const QObjectList &siblings = w->parentWidget()->children();
            for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
                const auto *over = qobject_cast<const QWidget *>(siblings.at(i));
                if (over && over->isVisible() && over->property(kCovers).toBool())
                    shown -= QRect(over->mapTo(window, QPoint()), over->size());
            }
        }
        const FocusRing::Outline outline = outlineOf(m_control);
        const int reach = outline.inside ? 0 : FocusRing::kReach + 1;
        const QRect ring = QRect(at, m_control->size()).adjusted(-reach, -reach, reach, reach) & clip;
        if (!shown.intersects(ring)) {
            hide();
            return;
        }
        m_clip = shown;
        if (geometry() != ring)
            setGeometry(ring);
        // Above whatever came into the window since.
        if (window->children().constLast() != this)
            raise();
        show();
        update();
    }

    QPointer<QWidget> m_control;
    QList<QPointer<QWidget>> m_watched;
    QMetaObject::Connection m_gone;
    QRegion m_clip;
};

// Has the ring of its window placed again as a layer over the window's
// controls comes, moves and goes.
class CoverWatch final : public QObject {
public:
    explicit CoverWatch(QWidget *layer) : QObject(layer), m_window(layer->window())
    {
        layer->installEventFilter(this);
        // Once it is out of its parent's children.
        connect(layer, &QObject::destroyed, m_window.data(), [window = m_window] { refresh(window); }, Qt::QueuedConnection);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            refresh(m_window);
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void refresh(const QPointer<QWidget> &window)
    {
        if (RingHalo *halo = window ? RingHalo::existing(window) : nullptr)
            halo->refresh();
    }

    QPointer<QWidget> m_window;
};
// Given the keyboard by a key in a window yet to come forward.
const char *const kGiven = "zkFocusGiven";

// Watches the tracked widgets' focus, and the application's input for whether
// the user was last at the keyboard rather than the mouse. Focus that a key
// moved (Tab, or Escape or Return closing a sheet or a menu that hands the
// keyboard back) is drawn; focus from a click, or handed out by a window that
// comes forward (which says "by Tab" too), is not.
class FocusTracker final : public QObject {
public:
    static FocusTracker &shared()
    {
        // One for the whole process, as the widgets it serves; it sees the
        // application's events, the widgets' own come to it as well.
        static auto *tracker = new FocusTracker;
        return *tracker;
    }

    void give(QWidget *widget)
    {
        m_given = m_keyboard ? widget : nullptr;
        const bool had = widget->hasFocus();
        widget->setFocus(Qt::OtherFocusReason);
        if (widget->hasFocus() && !had)
            return; // told by its focus event
        m_given = nullptr;
        if (!widget->property(kTracked).toBool())
            return;
        // Had it already; or its window is yet to come forward, and it is
        // ringed from that window's first frame.
        widget->setProperty(kKeyboardFocus, m_keyboard);
        widget->setProperty(kGiven, !had && m_keyboard);
        if (!had && m_keyboard)
            m_given = widget;
        if (m_keyboard && !widget->property(kOwnRing).toBool())
            RingHalo::of(widget->window())->follow(widget);
        widget->update();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            m_keyboard = true;
            break;
        case QEvent::MouseButtonPress:
            m_keyboard = false;
            m_given = nullptr;
            break;
        case QEvent::FocusIn: {
            // Given on the user's behalf by a key, it rings though its window
            // hands it out only as it comes forward.
            QWidget *control = EventTargets::widget(watched);
            if (!control)
                break;
            const bool given = control == m_given;
            m_given = nullptr; // taken, or passed over for another control
            if (!control->property(kTracked).toBool())
                break;
            control->setProperty(kGiven, false);
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            const bool keyboard =
                reason != Qt::MouseFocusReason && (given || (m_keyboard && reason != Qt::ActiveWindowFocusReason));
            control->setProperty(kKeyboardFocus, keyboard);
            if (keyboard && !control->property(kOwnRing).toBool())
                RingHalo::of(control->window())->follow(control);
            break;
        }
        case QEvent::FocusOut: {
            QWidget *control = EventTargets::widget(watched);
            if (control && control->property(kTracked).toBool()) {
                control->setProperty(kKeyboardFocus, false);
                control->setProperty(kGiven, false);
                if (RingHalo *halo = RingHalo::existing(control->window()))
                    halo->drop(control);
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    FocusTracker() { QCoreApplication::instance()->installEventFilter(this); }

    bool m_keyboard = false;
    // Given by give() while a key was the user's last doing, until it has the keyboard.
    QPointer<QObject> m_given;
};
} // namespace

void FocusRing::track(QWidget *widget)
{
    FocusTracker::shared();
    widget->setProperty(kTracked, true);
    ReturnKey::follow(widget);
}

void FocusRing::give(QWidget *widget)
{
    if (widget)
        FocusTracker::shared().give(widget);
}

bool FocusRing::shown(const QWidget *widget)
{
    if (!widget->property(kKeyboardFocus).toBool())
        return false;
    return widget->hasFocus() || (widget->property(kGiven).toBool() && widget->window()->focusWidget() == widget &&
                                  !widget->window()->isActiveWindow());
}

void FocusRing::setOutline(QWidget *widget, const Outline &outline)
{
    widget->setProperty(kOutline, QVariant::fromValue(outline));
}

void FocusRing::drawnByControl(QWidget *widget) { widget->setProperty(kOwnRing, true); }

void FocusRing::coverRings(QWidget *layer)
{
    layer->setProperty(kCovers, true);
    new CoverWatch(layer);
}

void FocusRing::setFixedAppearance(QWidget *widget, std::optional<Appearance> appearance)
{
    widget->setProperty(kRingAppearance, appearance ? QVariant(int(*appearance)) : QVariant());
}

QColor FocusRing::color(Appearance appearance) { return PaletteColors::color(Color::text, appearance); }

QColor FocusRing::color() { return color(AppearanceService::shared().appearance()); }

QPainterPath FocusRing::path(const QRectF &edge, double radius, bool inside)
{
    // A capsule or a circle past half the shorter side.
    radius = std::clamp(radius, 0.0, std::min(edge.width(), edge.height()) / 2);
    const double off = inside ? -kWidth / 2 : kGap + kWidth / 2;
    const double round = std::max(0.0, radius + off);
    QPainterPath line;
    line.addRoundedRect(edge.adjusted(-off, -off, off, off), round, round);
    return line;
}

namespace {
// The toolkit's look without its faint focus frame: the ring takes its place.
class RingedFocusStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_FrameFocusRect)
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// Keeps a check box's or radio button's ring round what it draws (its mark and
// its words), however wide its layout makes it.
class RingRoundClickArea final : public QObject {
public:
    explicit RingRoundClickArea(QAbstractButton *button) : QObject(button), m_button(button)
    {
        button->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::LayoutDirectionChange:
            follow();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void follow()
    {
        QStyleOptionButton option;
        option.initFrom(m_button);
        option.text = m_button->text();
        option.icon = m_button->icon();
        option.iconSize = m_button->iconSize();
        const bool radio = qobject_cast<QRadioButton *>(m_button);
        const QRect area = m_button->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonClickRect : QStyle::SE_CheckBoxClickRect, &option, m_button);
        const QRect all = m_button->rect();
        FocusRing::setOutline(m_button, {5, QMarginsF(std::max(0, area.left() - all.left()), std::max(0, area.top() - all.top()),
                                                      std::max(0, all.right() - area.right()),
                                                      std::max(0, all.bottom() - area.bottom()))});
    }

    QAbstractButton *m_button;
};
} // namespace

void FocusRing::strengthen(QAbstractButton *control)
{
    control->setStyle(sharedStyle<RingedFocusStyle>());
    track(control); // Return and Enter press it as Space does, through track
    new RingRoundClickArea(control);
}

// ---- FieldRing

namespace {
const char *const kRingedField = "zkRingedField";

class RepaintOnFocus final : public QObject {
public:
    RepaintOnFocus(QWidget *field, QWidget *box) : QObject(field), m_box(box) { field->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if ((event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) && m_box)
            m_box->update();
        return false;
    }

private:
    QPointer<QWidget> m_box;
};
} // namespace

void FieldRing::follow(QWidget *field, QWidget *box)
{
    box->setProperty(kRingedField, QVariant::fromValue(QPointer<QWidget>(field)));
    new RepaintOnFocus(field, box);
}

QPen FieldRing::pen(const QWidget *box, const QColor &rest)
{
    const QWidget *field = box->property(kRingedField).value<QPointer<QWidget>>();
    if (!(field ? field : box)->hasFocus())
        return QPen(rest, 1);
    return QPen(FocusRing::color(), FocusRing::kWidth);
}

void FieldRing::paint(QPainter &painter, const QWidget *box, const QRectF &rect, double radius, const QColor &rest,
                      Color ground)
{
    const QPen outline = pen(box, rest);
    const double inset = outline.widthF() / 2;
    QPainterPath shape;
    // The hairline's own path, drawn 2 wide for the ring.
    const double round = radius + 0.5 - inset;
    shape.addRoundedRect(rect.adjusted(inset, inset, -inset, -inset), round, round);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, PaletteColors::color(ground));
    painter.setPen(outline);
    painter.drawPath(shape);
    painter.restore();
}

// ---- ToggleSwitch

ToggleSwitch::ToggleSwitch(const QString &accessibleName, QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(accessibleName);
    FocusRing::track(this);
    // Round the track, a capsule just inside the switch's rectangle.
    FocusRing::setOutline(this, {sizeHint().height() / 2.0, QMarginsF(1, 2, 1, 2)});
    connect(this, &QAbstractButton::clicked, this, [this](bool on) { Q_EMIT switched(on); });
    AppearanceService::repaintOnChange(this);
}

void ToggleSwitch::setOn(bool on)
{
    if (isChecked() == on)
        return;
    const QSignalBlocker quiet(this);
    setChecked(on);
    update();
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 2, -1, -2);
    QPainterPath trackPath;
    trackPath.addRoundedRect(track, track.height() / 2, track.height() / 2);
    painter.fillPath(trackPath, isChecked() ? PaletteColors::color(Color::accent)
                                            : PaletteColors::color(Color::surfaceStrong));
    // Off, the track is hardly darker than the card under it (1.4:1): its hairline,
    // the text colour at the strength 3:1 needs on every ground it sits on, shows
    // where the switch is without ringing it harder than that.
    if (!isChecked()) {
        const QRectF edge = track.adjusted(0.5, 0.5, -0.5, -0.5);
        const bool dark = AppearanceService::shared().appearance() == Appearance::dark;
        painter.setPen(QPen(faded(PaletteColors::color(Color::text), dark ? 0.4 : 0.5), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(edge, edge.height() / 2, edge.height() / 2);
    }

    // The knob sits at the trailing end when on; mirrored in right-to-left layouts.
    const double knob = track.height() - 4;
    const bool trailing = isChecked() != (layoutDirection() == Qt::RightToLeft);
    const double x = trailing ? track.right() - 2 - knob : track.left() + 2;
    QPainterPath knobPath;
    knobPath.addEllipse(QRectF(x, track.top() + 2, knob, knob));
    softShadow(painter, knobPath);
    painter.fillPath(knobPath, QColor(255, 255, 255));
}

// ---- SegmentedPicker

SegmentedPicker::SegmentedPicker(const QStringList &segments, int width, QWidget *parent)
    : QWidget(parent), m_segments(segments), m_width(width)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    FocusRing::track(this);
    FocusRing::setOutline(this, {8, {}});
    AppearanceService::repaintOnChange(this);
}

void SegmentedPicker::setCurrentIndex(int index)
{
    if (index == m_current)
        return;
    m_current = index;
    update();
}

QSize SegmentedPicker::sizeHint() const { return {m_width, 28}; }

QRectF SegmentedPicker::segmentRect(int index) const
{
    const int count = int(m_segments.size());
    if (index < 0 || index >= count)
        return {};
    // Equal shares while every label fits in one; otherwise each label its own
    // width and an equal share of what is left, so a long word is not cut
    // beside short ones.
    const double inner = width() - 4;
    const QFontMetricsF metrics(DesignFonts::system(12.5, DesignFonts::Weight::semibold));
    QList<double> widths;
    double needed = 0;
    bool equal = true;
    for (const QString &segment : m_segments) {
        widths << metrics.horizontalAdvance(segment) + kSegmentInset;
        needed += widths.last();
        equal = equal && widths.last() <= inner / count;
    }
    for (double &w : widths)
        w = equal ? inner / count : w + (inner - needed) / count;
    // Segments read in the layout's direction.
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    double x = 2;
    for (int i = rtl ? count - 1 : 0; i != index; i += rtl ? -1 : 1)
        x += widths[i];
    return {x, 2, widths[index], height() - 4.0};
}

int SegmentedPicker::segmentAt(const QPoint &point) const
{
    for (int i = 0; i < m_segments.size(); ++i) {
        if (segmentRect(i).contains(point))
            return i;
    }
    return -1;
}

void SegmentedPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    QPainterPath back;
    back.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(back, PaletteColors::color(Color::surfaceSoft));
    painter.setPen(QPen(PaletteColors::color(Color::line), 1));
    painter.drawPath(back);

    const QFont font = DesignFonts::system(12.5, DesignFonts::Weight::medium);
    const QFont chosenFont = DesignFonts::system(12.5, DesignFonts::Weight::semibold);
    for (int i = 0; i < m_segments.size(); ++i) {
        const QRectF r = segmentRect(i);
        if (i == m_current) {
            QPainterPath chip;
            chip.addRoundedRect(r, 6.5, 6.5);
            softShadow(painter, chip);
            painter.fillPath(chip, PaletteColors::color(Color::surface));
        } else if (i > 0 && i - 1 != m_current && i != m_current) {
            // A faint separator between two unchosen segments.
            const double x = layoutDirection() == Qt::RightToLeft ? r.right() : r.left();
            painter.setPen(QPen(PaletteColors::color(Color::line), 1));
            painter.drawLine(QPointF(x, r.top() + 6), QPointF(x, r.bottom() - 6));
        }
        painter.setFont(i == m_current ? chosenFont : font);
        painter.setPen(PaletteColors::color(i == m_current ? Color::text : Color::muted));
        const QString shown = containedBidi(
            QFontMetricsF(painter.font()).elidedText(m_segments[i], Qt::ElideRight, r.width() - kSegmentInset));
        painter.drawText(r, int(Qt::AlignCenter | Qt::TextSingleLine), shown);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent *event)
{
    const int index = segmentAt(event->position().toPoint());
    if (index < 0 || !isEnabled())
        return;
    setCurrentIndex(index);
    Q_EMIT chosen(index);
}

void SegmentedPicker::keyPressEvent(QKeyEvent *event)
{
    int delta = 0;
    if (event->key() == Qt::Key_Left)
        delta = -1;
    else if (event->key() == Qt::Key_Right)
        delta = 1;
    if (delta == 0 || m_segments.isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (layoutDirection() == Qt::RightToLeft)
        delta = -delta;
    const int index = std::clamp(m_current + delta, 0, int(m_segments.size()) - 1);
    if (index != m_current) {
        setCurrentIndex(index);
        Q_EMIT chosen(index);
    }
}

// ---- Stepper

namespace {
// One half of the stepper: a minus or a plus.
class StepButton final : public QAbstractButton {
public:
    StepButton(bool plus, QWidget *parent) : QAbstractButton(parent), m_plus(plus)
    {
        setFixedSize(26, 24);
        setCursor(Qt::PointingHandCursor);
        setAutoRepeat(true);
        FocusRing::track(this);
        // Its neighbour touches it: ringed inside its edge, on the case's fill.
        FocusRing::setOutline(this, {7, {}, true});
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? (isDown() ? 0.6 : 1.0) : 0.35);
        const QColor ink = PaletteColors::color(Color::text);
        painter.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QPointF c = QRectF(rect()).center();
        painter.drawLine(QPointF(c.x() - 4.5, c.y()), QPointF(c.x() + 4.5, c.y()));
        if (m_plus)
            painter.drawLine(QPointF(c.x(), c.y() - 4.5), QPointF(c.x(), c.y() + 4.5));
    }

private:
    bool m_plus;
};

// The rounded case both halves sit in.
class StepperCase final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
        painter.fillPath(back, PaletteColors::color(Color::surfaceSoft));
        painter.setPen(QPen(PaletteColors::color(Color::line), 1));
        painter.drawPath(back);
        painter.drawLine(QPointF(width() / 2.0, 5), QPointF(width() / 2.0, height() - 5));
    }
};
} // namespace

Stepper::Stepper(int minimum, int maximum, int step, QWidget *parent)
    : QWidget(parent), m_minimum(minimum), m_maximum(maximum), m_step(std::max(1, step)), m_value(minimum)
{
    auto *box = new StepperCase(this);
    AppearanceService::repaintOnChange(box);
    m_down = new StepButton(false, box);
    m_up = new StepButton(true, box);
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_down);
    row->addWidget(m_up);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(box);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_up, &QAbstractButton::clicked, this, &Stepper::stepUp);
    connect(m_down, &QAbstractButton::clicked, this, &Stepper::stepDown);
    sync();
}

void Stepper::setNames(const QString &decrease, const QString &increase)
{
    m_down->setAccessibleName(decrease);
    m_up->setAccessibleName(increase);
}

void Stepper::setValue(int value)
{
    m_value = value;
    sync();
}

int Stepper::incremented() const { return std::clamp(m_value + m_step, m_minimum, m_maximum); }
int Stepper::decremented() const { return std::clamp(m_value - m_step, m_minimum, m_maximum); }
void Stepper::stepUp() { moveTo(incremented()); }
void Stepper::stepDown() { moveTo(decremented()); }

void Stepper::moveTo(int next)
{
    if (next == m_value)
        return;
    m_value = next;
    sync();
    Q_EMIT stepped(m_value);
}

void Stepper::sync()
{
    m_up->setEnabled(m_value < m_maximum);
    m_down->setEnabled(m_value > m_minimum);
}

// ---- ScrollBars

namespace {
// Scroll bars drawn as a rounded thumb on nothing, 10 wide, as the design's
// overlay scrollers look; everything else is the application's style.
class ScrollBarStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_ScrollBarExtent)
            return 10;
        if (metric == PM_ScrollBarSliderMin)
            return 32;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
        if (control != CC_ScrollBar || !bar)
            return QProxyStyle::subControlRect(control, option, sub, widget);
        const bool vertical = bar->orientation == Qt::Vertical;
        const QRect groove = bar->rect;
        const int length = vertical ? groove.height() : groove.width();
        const int range = bar->maximum - bar->minimum;
        int thumb = range > 0 ? int(qint64(length) * bar->pageStep / (range + bar->pageStep)) : length;
        thumb = std::clamp(thumb, std::min(32, length), length);
        const int travel = length - thumb;
        const int at = range > 0 ? int(qint64(travel) * (bar->sliderPosition - bar->minimum) / range) : 0;
        auto span = [&](int from, int to) {
            return vertical ? QRect(groove.left(), groove.top() + from, groove.width(), to - from)
                            : QRect(groove.left() + from, groove.top(), to - from, groove.height());
        };
        switch (sub) {
        case SC_ScrollBarGroove: return groove;
        case SC_ScrollBarSlider: return span(at, at + thumb);
        case SC_ScrollBarSubPage: return span(0, at);
        case SC_ScrollBarAddPage: return span(at + thumb, length);
        default: return {};
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        if (control != CC_ScrollBar) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect thumb = subControlRect(control, option, SC_ScrollBarSlider, widget).adjusted(2, 2, -2, -2);
        if (thumb.isEmpty() || !(option->state & State_Enabled))
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor ink = PaletteColors::color(Color::muted);
        ink.setAlphaF((option->state & State_MouseOver) ? 0.55f : 0.35f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(ink);
        const double radius = std::min(thumb.width(), thumb.height()) / 2.0;
        painter->drawRoundedRect(QRectF(thumb), radius, radius);
        painter->restore();
    }
};
} // namespace

void ScrollBars::follow(QScrollBar *bar)
{
    bar->setStyle(sharedStyle<ScrollBarStyle>());
    AppearanceService::repaintOnChange(bar);
}

// ---- MenuColors

QPalette MenuColors::applied(QPalette p, Color ground)
{
    const QColor back = PaletteColors::color(ground);
    const QColor text = PaletteColors::color(Color::text);
    p.setColor(QPalette::Base, back);
    p.setColor(QPalette::Window, back);
    // A calendar's row of day names.
    p.setColor(QPalette::AlternateBase, PaletteColors::color(Color::surfaceSoft));
    const QColor faint = PaletteColors::color(Color::muted);
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        p.setColor(role, text);
        // What cannot be chosen now reads fainter than the rest.
        p.setColor(QPalette::Disabled, role, faint);
    }
    // The soft accent under the text: the light accent under light text reads
    // poorly (under 3:1).
    p.setColor(QPalette::Highlight, PaletteColors::color(Color::accentSoft));
    p.setColor(QPalette::HighlightedText, text);
    return p;
}

void MenuColors::follow(QWidget *widget, Color ground)
{
    const auto apply = [widget, ground] { widget->setPalette(applied(widget->palette(), ground)); };
    apply();
    QObject::connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, widget, apply);
}

// ---- MenuPicker

MenuPicker::MenuPicker(const QStringList &choices, int width, QWidget *parent) : QComboBox(parent)
{
    addItems(choices);
    setFixedSize(width, 30);
    setFont(DesignFonts::system(13, DesignFonts::Weight::regular));
    setCursor(Qt::PointingHandCursor);
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) { Q_EMIT picked(index); });
    ReturnKey::follow(this);
    applyColors();
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, &MenuPicker::applyColors);
}

void MenuPicker::setCurrent(int index)
{
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

void MenuPicker::applyColors()
{
    const QPalette p = MenuColors::applied(palette());
    setPalette(p);
    view()->setPalette(p);
    update();
}

void MenuPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    FieldRing::paint(painter, this, rect(), 8, PaletteColors::color(Color::line));

    const bool rtl = layoutDirection() == Qt::RightToLeft;
    const QRectF chevron(rtl ? 8 : width() - 22, (height() - 14) / 2.0, 14, 14);
    painter.setPen(QPen(PaletteColors::color(Color::muted), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF c = chevron.center();
    painter.drawPolyline(QList<QPointF>{{c.x() - 4, c.y() - 2}, {c.x(), c.y() + 2.5}, {c.x() + 4, c.y() - 2}});

    const QRectF text = QRectF(rect()).adjusted(rtl ? 28 : 10, 0, rtl ? -10 : -28, 0);
    painter.setFont(font());
    painter.setPen(PaletteColors::color(Color::text));
    const QString shown = containedBidi(QFontMetricsF(font()).elidedText(currentText(), Qt::ElideRight, text.width()));
    painter.setLayoutDirection(textDirection(shown, layoutDirection()));
    painter.drawText(text,
                     int((rtl ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter |
                         Qt::TextSingleLine),
                     shown);
}

// ---- RoundedField

RoundedField::RoundedField(const QString &placeholder, const Look &look, QWidget *parent)
    : QLineEdit(parent), m_look(look)
{
    setPlaceholderText(placeholder);
    setFrame(false);
    setFont(DesignFonts::system(look.fontSize, DesignFonts::Weight::regular));
    setFixedHeight(look.height);
    setTextMargins(look.padding - 2, 0, look.padding - 2, 0);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    PasteGuard::install(); // a paste with nothing, or a picture, on the clipboard
    applyColors();
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, &RoundedField::applyColors);
}

void RoundedField::setTextKeepingCursor(const QString &text)
{
    if (text == this->text())
        return;
    const int cursor = std::min<int>(cursorPosition(), int(text.size()));
    setText(text);
    setCursorPosition(cursor);
}

void RoundedField::applyColors()
{
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, PaletteColors::color(Color::text));
    p.setColor(QPalette::PlaceholderText, PaletteColors::color(Color::muted));
    p.setColor(QPalette::Highlight, faded(PaletteColors::color(Color::accent), 0.35));
    p.setColor(QPalette::HighlightedText, PaletteColors::color(Color::text));
    setPalette(p);
    update();
}

void RoundedField::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        FieldRing::paint(painter, this, rect(), m_look.radius, PaletteColors::color(Color::line), m_look.fill);
    }
    QLineEdit::paintEvent(event);
}

// ---- DateTimeField

DateTimeField::DateTimeField(QWidget *parent) : QDateTimeEdit(parent)
{
    setCalendarPopup(true);
    // The calendar opens in a window of its own, which takes none of the
    // field's colours: it takes the palette's, as menus do.
    if (QCalendarWidget *calendar = calendarWidget())
        MenuColors::follow(calendar->window());
    setTimeSpec(Qt::LocalTime);
    lineEdit()->setTextMargins(kTextInset, 0, kTextInset, 0);
    applyLanguage();
}

QSize DateTimeField::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QString key = displayFormat() + u'|' + locale().name() + u'|' + font().key();
    if (key == m_hintFor && m_hint.isValid())
        return m_hint;
    // The widest digit of each kind of digits, by the first of its kind (its zero).
    const auto widened = [&metrics](QString text) {
        for (QChar &c : text) {
            const int value = c.digitValue();
            if (value < 0)
                continue;
            const char16_t zero = char16_t(c.unicode() - value);
            char16_t widest = zero;
            for (char16_t d = zero; d < zero + 10; ++d)
                if (metrics.horizontalAdvance(QChar(d)) > metrics.horizontalAdvance(QChar(widest)))
                    widest = d;
            c = QChar(widest);
        }
        return text;
    };
    // Every month, in the morning and in the evening, on a day and at an hour
    // of two digits.
    double text = 0;
    for (int month = 1; month <= 12; ++month)
        for (const int hour : {10, 22})
            text = std::max(text, metrics.horizontalAdvance(
                                      widened(textFromDateTime(QDateTime(QDate(2000, month, 28), QTime(hour, 58)))) +
                                      u' '));
    ensurePolished();
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    // The cursor's blink beside the text, as the base keeps it.
    const QSize content(int(std::ceil(text)) + 2 + 2 * kTextInset, lineEdit()->sizeHint().height());
    m_hint = style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this).expandedTo(QDateTimeEdit::sizeHint());
    m_hintFor = key;
    return m_hint;
}

void DateTimeField::applyLanguage()
{
    setLocale(L10n::locale());
    setLayoutDirection(Qt::LeftToRight);
    setDisplayFormat(DateText::editorFormat());
    // Then the window's direction again: the text runs right to left in Arabic
    // and Hebrew with its fields where the language puts them.
    unsetLayoutDirection();
    updateGeometry(); // measured anew for the language's words
}

void DateTimeField::paintEvent(QPaintEvent *event)
{
    QDateTimeEdit::paintEvent(event);
    // Ringed as the other fields are, over the toolkit's faint frame.
    if (hasFocus()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(FieldRing::pen(this, QColor()));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
    }
}

bool DateTimeField::event(QEvent *event)
{
    // A change of the application's direction makes the base take its format
    // again in the new direction, turning it round; the language changed too.
    if (event->type() == QEvent::ApplicationLayoutDirectionChange) {
        applyLanguage();
        return QAbstractSpinBox::event(event);
    }
    return QDateTimeEdit::event(event);
}

void DateTimeField::keyPressEvent(QKeyEvent *event)
{
    // Tab goes on to the next control, as from every other field: a part of
    // a date is no control of its own, with no name to tell where the keyboard
    // went. The parts are the arrows'.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        event->accept();
        QAbstractSpinBox::focusNextPrevChild(event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    // Right to left, the arrows are mirrored: the one toward the reading end
    // (Left) goes to the next part, as Right does left to right. The base
    // would move its cursor through the turned-round text and stay in the part.
    const bool arrow = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    if (!arrow || !isRightToLeft() || (event->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier))) {
        QDateTimeEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    const int step = event->key() == Qt::Key_Left ? 1 : -1;
    setSelectedSection(sectionAt(std::clamp(currentSectionIndex() + step, 0, sectionCount() - 1)));
}

void DateTimeField::focusInEvent(QFocusEvent *event)
{
    QDateTimeEdit::focusInEvent(event);
    // The base starts a right-to-left field from its end; reading starts at its first field.
    const Qt::FocusReason reason = event->reason();
    if (isRightToLeft() && reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason &&
        reason != Qt::ActiveWindowFocusReason)
        setSelectedSection(sectionAt(reason == Qt::BacktabFocusReason ? sectionCount() - 1 : 0));
}

bool DateTimeField::focusNextPrevChild(bool next)
{
    // The base walks a right-to-left field's sections backwards, expecting them
    // turned round (Ctrl and an arrow come here); on in reading order instead.
    if (!isRightToLeft())
        return QDateTimeEdit::focusNextPrevChild(next);
    const int index = currentSectionIndex() + (next ? 1 : -1);
    if (index < 0 || index >= sectionCount())
        return QAbstractSpinBox::focusNextPrevChild(next);
    setSelectedSection(sectionAt(index));
    return false;
}
