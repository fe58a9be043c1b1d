#include "design/ReturnKey.h"

#include "design/EventTargets.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>

#include <algorithm>

namespace {
const char *const kFollows = "zkReturnPresses";

// `key` (of the keypad too), with no other key held.
bool isKey(const QKeyEvent *event, std::initializer_list<int> keys)
{
    return std::find(keys.begin(), keys.end(), event->key()) != keys.end() &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool isReturn(const QKeyEvent *event) { return isKey(event, {Qt::Key_Return, Qt::Key_Enter}); }

// What Space presses, and Return is to press alike: a button, and a pop-up
// picker, whose list Space opens.
bool takesSpace(QObject *control)
{
    if (qobject_cast<QAbstractButton *>(control))
        return true;
    const auto *picker = qobject_cast<QComboBox *>(control);
    return picker && !picker->isEditable();
}

// Sees every key the application is given; Return and Enter on a button or a
// pop-up picker that follows go on to it as Space, pressed and let go with
// them. A held Return or Space presses a control that follows once.
class ReturnAsSpace final : public QObject {
public:
    ReturnAsSpace() { QCoreApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (!isKey(key, {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}))
            return false;
        // X repeats a held key as a release and a press at one server time.
        // The toolkit marks the two as a repeat only when it finds the press
        // already queued behind the release, and often it is not yet: a press
        // at the time of its key's last release is the key still held. (Keys
        // made up inside the process carry no time.)
        if (event->type() == QEvent::KeyRelease && key->timestamp() != 0)
            m_releasedAt.insert(key->key(), key->timestamp());
        QWidget *watched = EventTargets::widget(receiver);
        if (!watched || !watched->property(kFollows).toBool())
            return false;
        const bool held =
            key->isAutoRepeat() || (key->timestamp() != 0 && m_releasedAt.value(key->key()) == key->timestamp());
        // A stepper's half goes on stepping while held, as it is made to.
        const auto *button = qobject_cast<QAbstractButton *>(watched);
        if (event->type() == QEvent::KeyPress && held && !(button && button->autoRepeat()))
            return true;
        if (!isReturn(key) || !takesSpace(watched))
            return false;
        // A release with no press on the button before it (Return pressed in
        // a field that handed the keyboard here) clicks nothing, as Space's.
        QKeyEvent space(event->type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), key->isAutoRepeat(),
                        ushort(key->count()));
        // Space left by the control has gone on to its parents; Return, taken
        // either way, is not handled twice.
        QCoreApplication::sendEvent(watched, &space);
        return true;
    }

private:
    QHash<int, quint64> m_releasedAt;
};
} // namespace

void ReturnKey::follow(QWidget *control)
{
    // One for the whole process, as the controls it serves.
    static ReturnAsSpace *filter = new ReturnAsSpace;
    Q_UNUSED(filter);
    control->setProperty(kFollows, true);
}
