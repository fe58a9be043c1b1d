#include "shell/GuidedTour.h"

#include "design/L10n.h"
#include "services/AsyncSupport.h"

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

struct GuidedTour::Run {
    bool cancelled = false;
    bool finished = false;
    std::function<void()> wake;
    std::unique_ptr<Clock::Timer> timer;
    std::vector<std::function<void()>> whenFinished;

    bool companionWasRunning = false;
    bool pageReady = false;
    bool composerOpened = false;
    bool timerShown = false;
    bool askShown = false;
    bool focusWasIdle = false;

    void cancel()
    {
        cancelled = true;
        timer.reset();
        if (auto w = std::exchange(wake, nullptr))
            w();
    }
    void finish()
    {
        finished = true;
        auto waiters = std::move(whenFinished);
        whenFinished.clear();
        for (auto &w : waiters)
            w();
    }
};

GuidedTour::GuidedTour(TourHost &host, Clock *clock, QObject *parent) : QObject(parent), m_host(host), m_clock(clock) {}

GuidedTour::~GuidedTour()
{
    if (m_current)
        m_current->cancel();
}

const QString &GuidedTour::composerScript()
{
    static const QString script = QStringLiteral(
        "(document.querySelector('[data-plan-add]') || document.querySelector('[data-quick] button'))?.click()");
    return script;
}

const QString &GuidedTour::closeSheetScript()
{
    static const QString script = QStringLiteral("document.querySelector('[data-sheet-wrap]')?.click()");
    return script;
}

bool GuidedTour::running() const { return m_current && !m_current->finished; }

void GuidedTour::start()
{
    auto previous = std::exchange(m_current, std::make_shared<Run>());
    if (previous && !previous->finished)
        previous->cancel();
    else
        previous.reset();
    play(m_current, std::move(previous));
}

void GuidedTour::cancel()
{
    if (m_current)
        m_current->cancel();
}

QCoro::Task<bool> GuidedTour::pause(std::shared_ptr<Run> run, double seconds)
{
    if (run->cancelled)
        co_return false;
    Async::Trigger trigger(this);
    run->wake = trigger.firer();
    const auto ms = std::chrono::milliseconds(std::llround(std::max(0.0, seconds) * 1000.0));
    run->timer = clock().after(ms, trigger.firer());
    co_await trigger;
    run->timer.reset();
    run->wake = nullptr;
    co_return !run->cancelled;
}

QCoro::Task<> GuidedTour::play(std::shared_ptr<Run> run, std::shared_ptr<Run> previous)
{
    // The cancelled tour puts back what it opened before this one opens anything.
    if (previous && !previous->finished) {
        Async::Trigger done(this);
        previous->whenFinished.push_back(done.firer());
        co_await done;
    }
    previous.reset();
    if (run->cancelled) {
        run->finish();
        co_return;
    }

    TourHost &host = m_host;
    // 1. Setup.
    run->companionWasRunning = host.companionRunning();
    if (!run->companionWasRunning)
        host.startCompanion();
    run->pageReady = host.pageInWorkspace();
    host.setDemoing(true);
    host.showWorkspace();

    auto steps = [this, run, &host]() -> QCoro::Task<> {
        host.say(L10n::t("Hi! Let me show you what I can do."), 5);
        if (!co_await pause(run, 5))
            co_return;

        // 2. The window edge.
        if (const auto frame = host.workspaceFrame()) {
            const Ledge ledge{frame->x() + 24, frame->x() + frame->width() - 24, geo::maxY(*frame), -1, std::nullopt};
            host.setVisitLedge(ledge);
            host.requestGoal(CompanionGoal::visit(ledge));
        }
        host.say(L10n::t("I live on the edge of your window. Move it, and I ride along."), 6);
        if (!co_await pause(run, 6.5))
            co_return;

        // 3. to 7. The composer in the page, or the meal line without it.
        host.setVisitLedge(std::nullopt);
        if (!run->pageReady) {
            host.requestGoal(CompanionGoal::celebrate());
            host.say(L10n::t("When a post goes out, I'm glad. A post is a meal for me."), 6);
            if (!co_await pause(run, 6.5))
                co_return;
        } else {
            if (host.pageInWorkspace())
                host.runPageScript(composerScript());
            run->composerOpened = true;
            if (!co_await pause(run, 1))
                co_return;
            host.say(L10n::t("Start a new post, and I jump on to watch what you write."), 6);
            if (!co_await pause(run, 6.5))
                co_return;
            host.setDemoCarryUntil(clock().now().addMSecs(3000));
            if (host.pageInWorkspace())
                host.runPageScript(closeSheetScript());
            run->composerOpened = false;
            if (!co_await pause(run, 0.4))
                co_return;
            host.say(L10n::t("Save it or pick a time, and I carry it to your Plan."), 6);
            if (!co_await pause(run, 6.5))
                co_return;
            host.peek(InWindowCatStage::Look::happy, 5.4);
            if (!co_await pause(run, 0.3))
                co_return;
            host.say(L10n::t("When a post goes out, I'm glad. A post is a meal for me."), 6);
            if (!co_await pause(run, 6.5))
                co_return;
        }

        // 8. Failures.
        if (run->pageReady) {
            host.peek(InWindowCatStage::Look::concerned, 5.4);
            if (!co_await pause(run, 0.3))
                co_return;
        }
        host.say(L10n::t("If something doesn't go through, I'll tell you, and the Plan says why."), 6);
        if (!co_await pause(run, 7))
            co_return;

        // 9. The focus clock.
        run->focusWasIdle = host.focusIdle();
        if (run->focusWasIdle) {
            host.showFocusClock();
            run->timerShown = true;
        }
        host.say(L10n::t("Start a focus round, and I lie by the clock until it's done. A job's a job."), 7);
        if (!co_await pause(run, 9))
            co_return;

        // 10. The ask panel; a round the user started meanwhile keeps its clock.
        if (run->focusWasIdle && host.focusIdle()) {
            host.hideFocusClock();
            run->timerShown = false;
        }
        // A panel the user opened is theirs: the tour neither shows nor hides it.
        if (!host.askShowing()) {
            host.showAsk();
            run->askShown = true;
        }
        host.say(L10n::t("Click me to talk, about anything. Alt+Space works too."), 7);
        if (!co_await pause(run, 8))
            co_return;

        // 11. The nap.
        putAskBack(*run);
        host.requestGoal(CompanionGoal::nap());
        host.say(L10n::t("The rest of the time I nap. That matters too."), 6);
        if (!co_await pause(run, 7))
            co_return;

        // 12. Goodbye; a companion started for the tour leaves again.
        host.say(L10n::t("That's me. Click me whenever you like."), 6);
        if (!run->companionWasRunning && co_await pause(run, 7))
            host.stopCompanion();
    };
    co_await steps();
    cleanup(*run);
    if (m_current == run)
        m_current.reset();
    run->finish();
    Q_EMIT finished();
}

void GuidedTour::cleanup(Run &run)
{
    m_host.setDemoing(false);
    if (run.composerOpened) {
        m_host.setDemoCarryUntil(clock().now().addMSecs(3000));
        if (m_host.pageInWorkspace())
            m_host.runPageScript(closeSheetScript());
        run.composerOpened = false;
    }
    if (run.timerShown && m_host.focusIdle()) {
        m_host.hideFocusClock();
        run.timerShown = false;
    }
    putAskBack(run);
    m_host.setVisitLedge(std::nullopt);
}

void GuidedTour::putAskBack(Run &run)
{
    // Shown by the tour, but typed in since: the user has taken it up.
    if (std::exchange(run.askShown, false) && m_host.askShowing() && !m_host.askHasKeyboard())
        m_host.hideAsk();
}
