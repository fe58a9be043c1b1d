#include "workspace/KeyboardHold.h"

#include "design/ReadingOrder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>

namespace {

QList<KeyboardHold *> &engaged()
{
    // Kept to the end: a window torn down after static objects are gone still
    // takes its layers' holds off the list.
    static auto *holds = new QList<KeyboardHold *>;
    return *holds;
}

const char *const kIdentity = "zkKeyboardIdentity";

// The words a control is known by: the identity it was given, a button's
// text, a field's placeholder, else its accessible name.
QString labelOf(const QWidget *w)
{
    if (const QVariant identity = w->property(kIdentity); identity.isValid())
        return identity.toString();
    if (const auto *button = qobject_cast<const QAbstractButton *>(w); button && !button->text().isEmpty())
        return button->text();
    if (const auto *field = qobject_cast<const QLineEdit *>(w); field && !field->placeholderText().isEmpty())
        return field->placeholderText();
    return w->accessibleName();
}

QString kindOf(const QWidget *w) { return QString::fromLatin1(w->metaObject()->className()); }

bool takesTab(const QWidget *w)
{
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy() && w->isVisible() && w->isEnabled();
}

// The controls below `within`, outside `apart`, of that kind and name, in the
// order they were made.
QList<QWidget *> alike(const QString &kind, const QString &label, const QWidget *within, const QWidget *apart = nullptr)
{
    QList<QWidget *> out;
    if (label.isEmpty())
        return out;
    for (QWidget *w : within->findChildren<QWidget *>()) {
        if (takesTab(w) && (!apart || !apart->isAncestorOf(w)) && kindOf(w) == kind && labelOf(w) == label)
            out.append(w);
    }
    return out;
}

QWidget *named(const QString &kind, const QString &label, const QWidget *within, const QWidget *apart = nullptr)
{
    const QList<QWidget *> found = alike(kind, label, within, apart);
    return found.isEmpty() ? nullptr : found.first();
}

// Whether `a` is drawn over `b`: of the two children of their nearest common
// ancestor on the way to them, the later one is the higher.
bool drawnOver(const QWidget *a, const QWidget *b)
{
    for (const QWidget *towardB = b; towardB->parentWidget(); towardB = towardB->parentWidget()) {
        const QWidget *common = towardB->parentWidget();
        if (common == a) // `b` lies inside `a`
            return false;
        if (!common->isAncestorOf(a))
            continue;
        const QWidget *towardA = a;
        while (towardA->parentWidget() != common)
            towardA = towardA->parentWidget();
        if (towardA == towardB) // `a` lies inside `b`; the caller sees to nesting
            return false;
        const QObjectList &siblings = common->children();
        return siblings.indexOf(towardA) > siblings.indexOf(towardB);
    }
    return false;
}

} // namespace

KeyboardHold::KeyboardHold(QWidget *layer) : QObject(layer), m_layer(layer)
{
    layer->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { follow(now); });
    if (layer->isVisible())
        engage();
}

KeyboardHold::~KeyboardHold() { engaged().removeAll(this); }

bool KeyboardHold::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_layer && event->type() == QEvent::Show)
        engage();
    // Before the toolkit moves a keyboard it finds hidden on to the next control
    // in the window. Only the layer's own hiding counts: with its window hidden
    // or minimised it still stands over the screen for when the window comes back.
    if (watched == m_layer && event->type() == QEvent::Hide && m_layer->isHidden())
        release();
    return QObject::eventFilter(watched, event);
}

void KeyboardHold::engage()
{
    if (m_engaged)
        return;
    m_engaged = true;
    m_openers.clear();
    m_last = nullptr;
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus->window() == m_layer->window() && !m_layer->isAncestorOf(focus)) {
        m_openers.append({focus, kindOf(focus), labelOf(focus)});
        for (const KeyboardHold *other : std::as_const(engaged())) {
            if (other->m_layer->isAncestorOf(focus))
                m_openers += other->m_openers;
        }
    }
    engaged().append(this);
}

void KeyboardHold::release()
{
    if (!m_engaged)
        return;
    m_engaged = false;
    engaged().removeAll(this);
    QWidget *focus = QApplication::focusWidget();
    if (!focus || !m_layer->isAncestorOf(focus))
        return;
    QWidget *back = returnPlace();
    // Else the layer it shows on, when that holds the keyboard too: a composer
    // whose buttons are all held while it publishes.
    for (const KeyboardHold *outer : std::as_const(engaged())) {
        if (!back && outer->m_layer->isAncestorOf(m_layer) && outer->m_layer->isVisible())
            back = outer->m_layer;
    }
    if (back)
        back->setFocus(Qt::OtherFocusReason);
}

QWidget *KeyboardHold::returnPlace() const
{
    QWidget *window = m_layer->window();
    for (const Opener &opener : m_openers) {
        QWidget *w = opener.widget;
        if (w && w->window() == window && !m_layer->isAncestorOf(w) && takesTab(w))
            return w;
    }
    // A screen built anew while the layer showed has the same control again.
    for (const Opener &opener : m_openers) {
        if (QWidget *w = named(opener.kind, opener.label, window, m_layer))
            return w;
    }
    return nullptr;
}

QWidget *KeyboardHold::sameControl(const QWidget *like, const QWidget *within, const QWidget *was)
{
    const QList<QWidget *> found = alike(kindOf(like), labelOf(like), within);
    if (found.isEmpty())
        return nullptr;
    // The one at the same place among its namesakes (a list's "Show" buttons), or the last.
    const qsizetype at = was ? alike(kindOf(like), labelOf(like), was).indexOf(const_cast<QWidget *>(like)) : 0;
    return found.at(std::clamp<qsizetype>(at, 0, found.size() - 1));
}

QWidget *KeyboardHold::samePlace(const QWidget *like, const QWidget *within, const QWidget *was)
{
    // Only a list's members stand in for one another; another button of the
    // same kind is no place of the one that went.
    if (!like->property(kIdentity).isValid())
        return nullptr;
    const auto ofKind = [kind = kindOf(like)](const QWidget *below) {
        QList<QWidget *> out;
        for (QWidget *w : below->findChildren<QWidget *>()) {
            if (takesTab(w) && kindOf(w) == kind && w->property(kIdentity).isValid())
                out.append(w);
        }
        return out;
    };
    const qsizetype at = ofKind(was).indexOf(const_cast<QWidget *>(like));
    const QList<QWidget *> now = ofKind(within);
    if (at < 0 || now.isEmpty())
        return nullptr;
    return now.at(std::min(at, now.size() - 1));
}

QWidget *KeyboardHold::sameSpot(const QWidget *like, const QWidget *within, const QWidget *was)
{
    const auto ofKind = [kind = kindOf(like)](const QWidget *below) {
        QList<QWidget *> out;
        for (QWidget *w : ReadingOrder::controls(below)) {
            if (kindOf(w) == kind)
                out.append(w);
        }
        return out;
    };
    const qsizetype at = ofKind(was).indexOf(const_cast<QWidget *>(like));
    const QList<QWidget *> now = ofKind(within);
    return at >= 0 && at < now.size() ? now.at(at) : nullptr;
}

void KeyboardHold::setIdentity(QWidget *control, const QString &identity) { control->setProperty(kIdentity, identity); }

bool KeyboardHold::onTop() const
{
    for (const KeyboardHold *other : std::as_const(engaged())) {
        if (other == this || !other->m_layer->isVisible() || other->m_layer->window() != m_layer->window())
            continue;
        if (m_layer->isAncestorOf(other->m_layer) || drawnOver(other->m_layer, m_layer))
            return false;
    }
    return true;
}

void KeyboardHold::follow(QWidget *now)
{
    if (!m_engaged || !now || !m_layer->isVisible() || now->window() != m_layer->window())
        return;
    if (now == m_layer || m_layer->isAncestorOf(now)) {
        m_last = now;
        return;
    }
    if (!onTop())
        return;
    // Behind the layer: back to where it was on the layer.
    QWidget *back = m_last && takesTab(m_last) && m_layer->isAncestorOf(m_last) ? m_last.data() : nullptr;
    if (!back) {
        const QList<QWidget *> own = controls();
        back = own.isEmpty() ? m_layer : own.first();
    }
    back->setFocus(Qt::OtherFocusReason);
}

QList<QWidget *> KeyboardHold::controls() const
{
    // In the window's own Tab order.
    QList<QWidget *> out;
    QWidget *window = m_layer->window();
    for (QWidget *w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (w != m_layer && m_layer->isAncestorOf(w) && takesTab(w) && !out.contains(w))
            out.append(w);
    }
    return out;
}

bool KeyboardHold::cycle(bool next)
{
    const QList<QWidget *> own = controls();
    if (own.isEmpty())
        return true;
    const qsizetype at = own.indexOf(m_layer->window()->focusWidget());
    qsizetype to;
    if (at < 0)
        to = next ? 0 : own.size() - 1;
    else
        to = (at + (next ? 1 : own.size() - 1)) % own.size();
    QWidget *target = own.at(to);
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    // A control inside a scrolled part of the layer is brought into view.
    for (QWidget *up = target->parentWidget(); up && up != m_layer; up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up))
            area->ensureWidgetVisible(target);
    }
    return true;
}
