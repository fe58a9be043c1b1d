#pragma once

#include "base/Clock.h"
#include "companion/CompanionBrain.h"
#include "companion/CompanionCanvas.h"
#include "companion/CompanionDesktop.h"
#include "companion/CompanionViewModel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class CompanionPanel;
class QWidget;

// The desktop cat: one translucent, click-through panel per screen, a 30 Hz frame
// loop on the injected clock that reads the window tops, the pointer and the
// user's idle time, steps the brain and shows its pose, and the mouse on the cat
// (a click, a drag and a drop). Main thread only.
class CompanionController final : public QObject {
    Q_OBJECT
public:
    // A desktop of null is the session's own.
    explicit CompanionController(Clock &clock, std::unique_ptr<CompanionDesktop> desktop = nullptr,
                                 QObject *parent = nullptr);
    ~CompanionController() override;

    // Builds the panels and starts the frame loop; a second call does nothing.
    void start();
    // Stops the loop and removes the panels; the brain keeps its state.
    void stop();
    bool isRunning() const { return m_timer != nullptr; }

    // Shows `text` in the bubble for `seconds`; a newer line replaces it at once
    // and keeps its own full lifetime.
    void say(const QString &text, double seconds);

    // Seconds since the user's last mouse or keyboard input; 0 when unknown.
    static double secondsSinceInput();

    // The brain: the coordinator's goals go to request() and clearGoal().
    CompanionBrain &brain() { return m_brain; }
    const CompanionBrain &brain() const { return m_brain; }
    void request(const CompanionGoal &goal) { m_brain.request(goal); }
    void clearGoal() { m_brain.clearGoal(); }
    // Keeps the perch or nest goal in line with the shown panels.
    void holdStandingGoal();

    CompanionViewModel &viewModel() { return m_viewModel; }
    // The desktop the cat lives on, for converting frames into its points.
    const CompanionDesktop &desktop() const { return *m_desktop; }

    // Settings and what the coordinator tells the cat.
    bool walksOnWindows = true;
    bool clickOpensAsk = true;
    bool wanders = false;
    bool hungry = false;
    CompanionTemper temper = CompanionTemper::calm;
    // The local hour; by default the clock's.
    std::function<int()> hour;
    // The workspace window, the cat's home.
    std::function<QWidget *()> homeWindow;
    std::optional<Ledge> visitLedge;
    std::optional<Ledge> perchLedge;
    std::optional<Ledge> nestLedge;
    // The frame of the panel that lends the perch, which the bubble keeps clear of.
    std::optional<QRectF> perchFrame;

    // A click on the cat; the brain's arrival at a goal.
    std::function<void()> onClick;
    std::function<void(const CompanionGoal &)> onArrived;

    void setVariant(const CompanionVariant &variant);
    const CompanionVariant &variant() const { return m_variant; }
    void setNestFrame(const std::optional<QRectF> &frame);
    // Fades every panel out (or back in).
    void setAside(bool aside);
    bool aside() const { return m_aside; }
    // Draws filmed looks; without one every look is drawn as the drawn cat.
    void setFilmedPainter(std::shared_ptr<FilmedFigurePainter> painter);

    // How the cat is shown: one small window that follows the cat over the
    // screens, as big as the cat and its bubble; translucent while a compositing
    // manager runs, else cut to the drawing. Follows the compositor as it
    // starts and quits.
    enum class Presentation { translucentWindow, shapedWindow };
    Presentation presentation() const
    {
        return m_composited ? Presentation::translucentWindow : Presentation::shapedWindow;
    }

    // What the frame loop and the panels work from, for tools and checks.
    const std::vector<CompanionPanel *> &panels() const { return m_panels; }
    const std::vector<Ledge> &ledges() const { return m_ledges; }
    std::optional<Ledge> homeLedge() const;
    // The perch ledge while the cat fits between it and the top of its screen;
    // pushed down from there, the cat would sit over the panel's controls.
    std::optional<Ledge> roomyPerch() const;
    CatHitArea hitArea() const;
    // Frames run so far, and of them those that read the window tops.
    int framesRun() const { return m_framesRun; }
    int topologyReads() const { return m_topologyReads; }
    // The frame interval now in use: 1/30 s, or 1/4 s while the cat sleeps with the user away.
    std::chrono::milliseconds frameInterval() const { return m_interval; }
    // Runs one frame now (the timer does this by itself).
    void tick();

Q_SIGNALS:
    void clicked();
    void arrived(const CompanionGoal &goal);

private:
    // The workspace window when it is on screen here: shown, not minimised, mapped.
    QWidget *homeWindowOnScreen() const;
    void buildPanels();
    void clearPanels();
    void followCompositor();
    void schedule(std::chrono::milliseconds interval);
    void refreshTopology();
    // The screen the cat is on: the one holding its feet, else the nearest.
    const CompanionScreen *activeScreen(const std::vector<CompanionScreen> &screens) const;
    // The screen whose frame holds `point`, else the active one; `screens` is not empty.
    const CompanionScreen &screenHolding(const std::vector<CompanionScreen> &screens, const QPointF &point) const;
    void present(const std::vector<CompanionScreen> &screens);
    void updateInput();
    double bubbleOpacity() const;
    CompanionVariant shownVariant() const;

    void mouseDown(QPointF qtGlobal);
    void mouseDragged(QPointF qtGlobal);
    void mouseUp(QPointF qtGlobal);

    Clock &m_clock;
    std::unique_ptr<CompanionDesktop> m_desktop;
    CompanionViewModel m_viewModel;
    CompanionBrain m_brain;
    std::vector<CompanionPanel *> m_panels;
    std::vector<CompanionScreen> m_panelScreens;
    std::unique_ptr<Clock::Timer> m_timer;
    std::chrono::milliseconds m_interval{33};
    double m_lastTick = 0;
    double m_topologyAge = 1.0;
    double m_idleSeconds = 0;
    double m_idleAge = 1.0;
    std::optional<QPointF> m_pointer;
    qint64 m_hourMinute = std::numeric_limits<qint64>::min();
    int m_localHour = 12;
    bool m_pointerRead = false;
    std::vector<Ledge> m_ledges;
    std::optional<QPointF> m_pressPoint;
    bool m_dragging = false;
    bool m_perchRoomy = false; // the perch had room above it at the last frame
    QPointF m_dragOffset;
    std::unique_ptr<Clock::Timer> m_bubbleTimer;
    bool m_screensChanged = false;
    bool m_composited = true;
    CompanionVariant m_variant = CompanionVariant::drawn();
    std::optional<QRectF> m_nestFrame;
    bool m_aside = false;
    std::optional<CompanionPose> m_lastPublished;
    std::shared_ptr<FilmedFigurePainter> m_filmedPainter;
    // The bubble's fade: the text shown (kept while fading out) and when it changed.
    QString m_bubbleText;
    bool m_bubbleShown = false;
    double m_bubbleChangedAt = -1e9;
    int m_framesRun = 0;
    int m_topologyReads = 0;
};
