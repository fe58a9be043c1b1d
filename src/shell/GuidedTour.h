#pragma once

#include "base/Clock.h"
#include "companion/CompanionTypes.h"
#include "companion/Ledge.h"
#include "web/InWindowCatStage.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>

// What the guided tour drives: the coordinator supplies it.
class TourHost {
public:
    virtual ~TourHost() = default;

    virtual bool companionRunning() const = 0;
    virtual void startCompanion() = 0;
    virtual void stopCompanion() = 0;
    // The web page shows the signed-in workspace.
    virtual bool pageInWorkspace() const = 0;
    virtual void setDemoing(bool on) = 0;
    virtual void setDemoCarryUntil(const QDateTime &until) = 0;
    // Shows the workspace window and brings the application forward.
    virtual void showWorkspace() = 0;
    // A line through the coordinator's speech (desktop cat or the cat in the window).
    virtual void say(const QString &text, double seconds) = 0;
    // The workspace window's frame in y-up screen points; none without a window.
    virtual std::optional<QRectF> workspaceFrame() const = 0;
    virtual void setVisitLedge(const std::optional<Ledge> &ledge) = 0;
    virtual void requestGoal(const CompanionGoal &goal) = 0;
    // Runs a script in the page without waiting for it.
    virtual void runPageScript(const QString &script) = 0;
    virtual void peek(InWindowCatStage::Look look, double seconds) = 0;
    virtual bool focusIdle() const = 0;
    // The focus timer panel with the cat's nest by it, and taking it away again.
    virtual void showFocusClock() = 0;
    virtual void hideFocusClock() = 0;
    // The ask panel, shown without taking the keyboard, and hidden.
    virtual void showAsk() = 0;
    virtual void hideAsk() = 0;
    // The ask panel is on screen; it holds the keyboard (the user took it up).
    virtual bool askShowing() const = 0;
    virtual bool askHasKeyboard() const = 0;
};

// The guided tour: about a minute of lines and moves that shows what the cat
// does, then puts back everything it opened. One tour at a time: starting again
// cancels the running tour and waits for its cleanup before the new one begins,
// so the old cleanup can never undo what the new tour has just opened.
class GuidedTour final : public QObject {
    Q_OBJECT
public:
    explicit GuidedTour(TourHost &host, Clock *clock = nullptr, QObject *parent = nullptr);
    ~GuidedTour() override;

    void start();
    void cancel();
    bool running() const;

    // The page scripts: open the page's composer, close its sheet.
    static const QString &composerScript();
    static const QString &closeSheetScript();

signals:
    // A tour ended, after its cleanup.
    void finished();

private:
    struct Run;
    QCoro::Task<> play(std::shared_ptr<Run> run, std::shared_ptr<Run> previous);
    QCoro::Task<bool> pause(std::shared_ptr<Run> run, double seconds);
    void cleanup(Run &run);
    // Hides the ask panel the tour showed, unless the user has taken it up.
    void putAskBack(Run &run);
    Clock &clock() const { return m_clock ? *m_clock : Clock::shared(); }

    TourHost &m_host;
    Clock *m_clock;
    std::shared_ptr<Run> m_current;
};
