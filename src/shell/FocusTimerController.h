#pragma once

#include "companion/Ledge.h"

#include <QObject>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class CompanionDesktop;
class FloatingPanel;
class FocusTimerView;

// The focus timer panel: a small clock in the bottom right corner of the
// primary screen while a focus round runs. It lends the desktop cat a ledge on
// its top edge, or one beside it, and reports where it is whenever it is shown
// or dragged. Geometry given out is in the cat's y-up points.
//
// On X11 a window manager may first put a new window somewhere of its own, and
// a notice of an earlier place may come late: from a show until kSettleMs after
// the window manager has mapped the panel, the place it was given stands and no
// other is told; then the place the server has settles it (one the window
// manager insists on is told then). The user's drag ends that wait at once.
class FocusTimerController final : public QObject {
    Q_OBJECT

public:
    explicit FocusTimerController(AppModel &model, QObject *parent = nullptr);
    // Over a described desktop (tests); the system's by default.
    FocusTimerController(AppModel &model, std::unique_ptr<CompanionDesktop> desktop, QObject *parent = nullptr);
    ~FocusTimerController() override;

    // Shows the clock at the bottom right of the primary screen's work area, in
    // the given mode. Nothing while it is already shown: a visible clock keeps
    // its mode and its place.
    void show(bool compact);
    void hide();

    FloatingPanel *panel() const;
    FocusTimerView *view() const { return m_view; }
    bool isVisible() const;
    // The mode of the view last installed.
    bool compact() const { return m_compact; }
    QRectF frame() const;
    // A ledge on the panel's top edge; none while hidden.
    std::optional<Ledge> ledge() const;
    // A ledge to the left of the panel at its bottom edge; none while hidden.
    std::optional<Ledge> sideLedge() const;

    // On show and on every move (a drag), with the new frame.
    std::function<void(const QRectF &catFrame)> onFrameChange;

    static QSize sizeFor(bool compact);

    static constexpr int kSettleMs = 3000;

private:
    void install(bool compact);
    void panelFrameChanged();
    void settle();
    // The panel's place on the server, in Qt's points; none without X11.
    std::optional<QRect> serverGeometry() const;
    void report(const QRectF &frame);

    AppModel &m_model;
    std::unique_ptr<CompanionDesktop> m_desktop;
    std::unique_ptr<FloatingPanel> m_panel;
    FocusTimerView *m_view = nullptr;
    bool m_compact = false;
    bool m_installed = false;
    // The last frame reported, so a window manager's repeat of the same place is not.
    std::optional<QRectF> m_reported;
    // The place the last show gave the panel (Qt's points), and the wait for the server to settle it.
    QRect m_placed;
    QTimer m_settling;
    // A place the controller puts right itself is not a move to tell.
    bool m_placing = false;
};
