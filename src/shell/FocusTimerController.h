#pragma once

#include "companion/Ledge.h"

#include <QObject>
#include <QRectF>
#include <QSize>

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

private:
    void install(bool compact);
    void panelFrameChanged();

    AppModel &m_model;
    std::unique_ptr<CompanionDesktop> m_desktop;
    std::unique_ptr<FloatingPanel> m_panel;
    FocusTimerView *m_view = nullptr;
    bool m_compact = false;
    bool m_installed = false;
    // The last frame reported, so a window manager's repeat of the same place is not.
    std::optional<QRectF> m_reported;
};
