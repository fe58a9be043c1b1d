#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace benchsupport {

// Notes the first paint a widget receives.
class PaintWatch final : public QObject {
public:
    bool painted = false;
    void watch(QWidget *widget)
    {
        painted = false;
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace benchsupport
