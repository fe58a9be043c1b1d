#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <optional>

// Asks the window manager for the keyboard for `window`, just shown. A window
// hidden and shown again before the toolkit has let go of it as the focus
// window of the display stays that focus window, with no activation to come,
// while its widgets have lost it as their active window: it is made active
// again here, or its focus widget would hear no key.
void activateShown(QWidget *window);

// A borderless panel that floats above other applications' windows on every
// desktop, stays out of the taskbar and the window switcher, and is shown
// without taking the keyboard. It is moved by dragging its background (any
// part a child does not take the press for). Only a panel that `allowsKey`
// ever takes keyboard focus, and then only when the user clicks into it or it
// is activated on purpose.
class FloatingPanel : public QWidget {
    Q_OBJECT

public:
    // How long the window manager's notices of the panel must have been quiet
    // before the panel's place on the server is set right.
    static constexpr int kQuietMs = 200;

    FloatingPanel(QSize size, bool allowsKey, QWidget *parent = nullptr);
    ~FloatingPanel() override;

    bool allowsKey() const { return m_allowsKey; }

    // Puts `view` in the panel, filling it, and deletes the one it replaces.
    void setContentView(QWidget *view);
    QWidget *contentView() const { return m_content; }

    // Whether the user is dragging the panel by its background: its moves now are the hand's.
    bool dragging() const { return m_dragging; }

    // Brings the panel to the front without activating it.
    void orderFront();

    // The content is a card with corners of `radius` points filling the panel.
    // Without a compositing manager nothing of a window blends with what lies
    // beneath, and its transparent corners would show black: the window is
    // then cut to the card's pixels (those it wholly covers). 0 never cuts.
    void setCornerRadius(double radius);

Q_SIGNALS:
    // The panel's frame changed place or size (a drag, or a move in code).
    void frameChanged();
    // The window manager has put the panel on the screen after a show (its
    // first exposure since then).
    void mapped();
    // A left press and release on the background that did not turn into a drag,
    // at the point in panel coordinates.
    void backgroundClicked(QPoint at);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Sticky, out of the taskbar and pager, on all desktops: what Qt's flags do
    // not say. Whether the window manager was asked (the window is mapped).
    bool markFloatingForWindowManager();
    // Cut to the card while no compositing manager runs, whole while one does.
    void applyShape();
    // Once the window manager has had its last word: a shown panel it has let
    // go is asked for again, a hidden one it has mapped is withdrawn again.
    void keepInStepWithServer();

    bool m_allowsKey = false;
    QPointer<QWidget> m_content;
    // The grab point while the left button is down on the background.
    std::optional<QPoint> m_pressGlobal;
    QPoint m_pressTopLeft;
    bool m_dragging = false;
    bool m_markWhenMapped = false;
    double m_cornerRadius = 0;
    int m_compositorWatch = 0;
    int m_managingWatch = 0;
    QTimer m_quiet;
};
