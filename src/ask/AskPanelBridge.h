#pragma once

#include <QObject>
#include <QSizeF>

#include <functional>

// What the ask bar and its panel's controller share: the bar asks to be closed
// and reports its measured size; the controller says whether the panel is shown.
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

Q_SIGNALS:
    void visibleChanged(bool visible);

private:
    bool m_visible = false;
};
