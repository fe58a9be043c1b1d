#include "design/ReturnKey.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>

namespace {
const char *const kFollows = "zkReturnPresses";

// Return or Enter (of the keypad too), with no other key held.
bool isReturn(const QKeyEvent *event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// Sees every key the application is given; Return and Enter on a button that
// follows go on to it as Space, pressed and let go with them.
class ReturnAsSpace final : public QObject {
public:
    ReturnAsSpace() { QCoreApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button || !button->property(kFollows).toBool() || !isReturn(key))
            return false;
        // A release with no press on the button before it (Return pressed in
        // a field that handed the keyboard here) clicks nothing, as Space's.
        QKeyEvent space(event->type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), key->isAutoRepeat(),
                        ushort(key->count()));
        // Space left by the button (a held key's repeats) has gone on to its
        // parents; Return, taken either way, is not handled twice.
        QCoreApplication::sendEvent(button, &space);
        return true;
    }
};
} // namespace

void ReturnKey::follow(QWidget *control)
{
    // One for the whole process, as the controls it serves.
    static ReturnAsSpace *filter = new ReturnAsSpace;
    Q_UNUSED(filter);
    control->setProperty(kFollows, true);
}
