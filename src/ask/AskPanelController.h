#pragma once

#include "companion/CompanionDesktop.h"
#include "companion/Ledge.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AppModel;
class AskBarView;
class AskPanelBridge;
class FloatingPanel;

// The floating ask panel: shown at the bottom of the screen under the pointer,
// above other windows and without bringing the application forward; it grows
// upwards from its bottom edge as the conversation grows, and hands the desktop
// cat its top edge to sit on. Frames and ledges are in the cat's y-up points.
class AskPanelController final : public QObject {
    Q_OBJECT
public:
    static constexpr int kWidth = 680;
    static constexpr int kHeight = 220;
    // The panel's bottom edge above the bottom of the visible area.
    static constexpr double kLift = 118;
    // The perch stays this far in from either end of the top edge.
    static constexpr double kPerchInset = 28;
    // How long a window manager has to answer a correction before its own
    // size is taken as one it insists on.
    static constexpr int kAnswerWaitMs = 3000;

    explicit AskPanelController(AppModel &model, QObject *parent = nullptr);
    ~AskPanelController() override;

    // Places the panel on the screen under the pointer and brings it on screen,
    // with the keyboard or without; again while shown, it is placed again and
    // the callbacks run again. With no screen at all nothing happens.
    void show(bool takingKeyboard);
    // Orders the panel out, then visible = false, then onVisibilityChange(false);
    // nothing for a hidden panel.
    void hide();
    // The hot key and the tray: hides a shown panel, else shows it with the keyboard.
    void toggle();
    FloatingPanel *panel() const;
    bool isVisible() const;
    // The top edge, 28 points in from either end; none while hidden.
    std::optional<Ledge> ledge() const;
    std::function<void(bool visible)> onVisibilityChange;
    // Every move and resize while shown, the user's drags included.
    std::function<void(const QRectF &frame)> onFrameChange;

    AskPanelBridge &bridge() const { return *m_bridge; }
    AskBarView *view() const;
    // The panel's frame now.
    QRectF frame() const;
    // Where screens and the pointer come from (the session's desktop unless set).
    void setDesktop(std::unique_ptr<CompanionDesktop> desktop);

    // The screen to show on: the first whose frame holds the pointer (left and
    // top edges in, right and bottom out, y up), else the main screen (the
    // first); none without screens.
    static std::optional<std::size_t> targetScreen(const std::vector<CompanionScreen> &screens,
                                                   const std::optional<QPointF> &pointer);
    // The panel's bottom-left corner on a visible frame: centred, 118 points up.
    static QPointF origin(const QRectF &visibleFrame, const QSizeF &size);
    // `frame` lowered as far as needed for its top edge to stay inside `area`
    // (y up), never below the area's bottom.
    static QRectF within(const QRectF &area, QRectF frame);

private:
    void followPanel();
    // The view's measured size: the panel follows it, keeping its bottom-left corner.
    void follow(QSizeF size);
    // Places the panel and keeps the frame as the one it should have.
    void setFrame(const QRectF &frame);
    void apply(const QRectF &frame);
    void report(const QRectF &frame);

    std::unique_ptr<AskPanelBridge> m_bridge;
    std::unique_ptr<FloatingPanel> m_panel;
    AppModel &m_model;
    QPointer<AskBarView> m_view;
    std::unique_ptr<CompanionDesktop> m_desktop;
    bool m_placing = false;
    std::optional<QRectF> m_reported;
    // Asks the window system for the placed frame again, once per size it reports against it.
    void correct();
    // The window manager kept its own size through a correction: that size stands.
    void yield();

    // The frame last given to the panel.
    std::optional<QRectF> m_placed;
    // The work area of the screen the panel was last shown on.
    std::optional<QRectF> m_area;
    // A correction was asked for and not yet answered with the placed size: a
    // size reported meanwhile answers an earlier request (a window manager
    // replies to each in turn), unless it still stands when the wait is over.
    bool m_correcting = false;
    QTimer m_answerWait;
    class ConfigureNotices;
    std::unique_ptr<ConfigureNotices> m_notices;
};
