// What the coordinator does with each of the state's events.
#include "shell/Runtime.h"

#include "app/AppModel.h"
#include "ask/AskPanelController.h"
#include "companion/CompanionController.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "web/WebWorkspace.h"
#include "shell/GuidedTour.h"
#include "workspace/WorkspaceWindowController.h"

#include <QDateTime>
#include <QTimeZone>

namespace {

// "Scheduled for %@.": the date abbreviated and the time shortened, in the
// interface language and the system's zone, as the plan and the composer write it.
QString scheduledLine(qint64 milliseconds)
{
    return L10n::tf("Scheduled for %@.", DateText::dateTime(QDateTime::fromMSecsSinceEpoch(milliseconds, QTimeZone::utc())));
}

} // namespace

// The native workspace, and the web page before it shows the signed-in
// workspace, draw no cat inside the window, so the lines meant for that cat go
// to the desktop cat there, as when the window is out of view.
void Runtime::handle(const AppEvent &event)
{
    using K = AppEvent::Kind;
    CompanionController &cat = *m_companion;
    switch (event.kind) {
    case K::wantsWorkspace:
        showWorkspace(event.surface);
        break;
    case K::published:
        cat.request(CompanionGoal::celebrate());
        say(event.publication && event.publication->platformUrl ? L10n::t("Published. Link is in the plan.")
                                                                : L10n::t("Published."),
            6);
        break;
    case K::scheduled:
        say(event.publication && event.publication->scheduledAt ? scheduledLine(*event.publication->scheduledAt)
                                                                : L10n::t("Scheduled."),
            6);
        break;
    case K::visitWindow: {
        const Ledge ledge = AppModel::visitLedge(event.frame);
        setVisit(ledge);
        cat.request(CompanionGoal::visit(ledge));
        break;
    }
    case K::say:
        say(event.text, 6);
        break;
    case K::catFed:
        cat.hungry = false;
        if (catInWindow()) {
            momentUnasked(event.text, InWindowCatStage::Look::happy);
        } else {
            cat.request(CompanionGoal::celebrate());
            governedDesktopSpeech(event.text, 6);
        }
        break;
    case K::catHungry:
        if (catInWindow())
            momentUnasked(event.text, std::nullopt);
        else
            governedDesktopSpeech(event.text, 9);
        break;
    case K::breakTime:
        cat.request(CompanionGoal::stretch());
        governedDesktopSpeech(event.text, 8);
        break;
    case K::lateNight:
        if (catInWindow())
            momentUnasked(event.text, InWindowCatStage::Look::sleepy);
        else
            governedDesktopSpeech(event.text, 6);
        break;
    case K::companionEnabledChanged:
        if (event.enabled)
            cat.start();
        else
            cat.stop();
        break;
    case K::wantsComposer:
        showWindowAndActivate();
        runComposerScript(GuidedTour::composerScript());
        break;
    case K::demoRequested:
        runDemo();
        break;
    case K::askRequested:
        ask().show(true);
        break;
    case K::focusStarted:
        showFocusTimer();
        say(L10n::tf("I'll sit right here for %d minutes.", m_model->focus().workMinutes), 6);
        break;
    case K::restStarted:
        say(L10n::t("That's a round. Stretch a little."), 6);
        break;
    case K::focusEnded:
        hideFocusTimer();
        say(L10n::t("Session over. Nicely done."), 6);
        break;
    case K::visitEnded:
        setVisit(std::nullopt);
        break;
    case K::settingsRequested:
        showCompanionSettings();
        break;
    case K::companionPreferencesChanged:
        applyCompanionPreferences();
        break;
    case K::themeChanged:
        applyTheme();
        break;
    }
}
