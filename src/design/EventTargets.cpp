#include "design/EventTargets.h"

#include <QWidget>
#include <QWindow>

namespace {

// Only the object's meta-object is asked, by a call left unchecked.
__attribute__((no_sanitize("vptr"))) QObject *as(QObject *receiver, const QMetaObject &kind)
{
    return receiver && receiver->metaObject()->inherits(&kind) ? receiver : nullptr;
}

} // namespace

namespace EventTargets {

__attribute__((no_sanitize("vptr"))) QWidget *widget(QObject *receiver)
{
    return static_cast<QWidget *>(as(receiver, QWidget::staticMetaObject));
}

__attribute__((no_sanitize("vptr"))) QWindow *window(QObject *receiver)
{
    return static_cast<QWindow *>(as(receiver, QWindow::staticMetaObject));
}

} // namespace EventTargets
