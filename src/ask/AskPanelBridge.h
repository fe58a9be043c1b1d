#pragma once

#include <QObject>
#include <QSizeF>

#include <functional>

// What the ask bar and its panel's controller share: the bar asks to be closed
// and reports its measured size; the controller says whether the panel is shown
// and how tall the card may grow on the screen it is on.
class AskPanelBridge final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Replaced by the controller; until then they do nothing.
    std::function<void()> close = [] {};
    std::function<void(QSizeF)> sizeChanged = [](QSizeF) {};

    bool visible() const { return m_visible; }
    void setVisible(bool value)
    {
        if (value == m_visible)
            return;
        m_visible = value;
        Q_EMIT visibleChanged(value);
    }

    // The room above the panel's bottom edge up to the top of its screen's
    // work area; none (0) for no bound.
    int room() const { return m_room; }
    void setRoom(int value)
    {
        if (value == m_room)
            return;
        m_room = value;
        Q_EMIT roomChanged(value);
    }

Q_SIGNALS:
    void visibleChanged(bool visible);
    void roomChanged(int room);

private:
    bool m_visible = false;
    int m_room = 0;
};
