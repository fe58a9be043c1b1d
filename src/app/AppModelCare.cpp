// The care tick: break reminders, hunger and the late hour; meals; notifications.
#include "app/AppModel.h"

#include "design/DateText.h"
#include "design/L10n.h"
#include "platform/UserNotifications.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>

namespace {
// Beyond this the user is away and a late-night remark would go unheard.
constexpr double kLateNightIdleLimit = 120;

} // namespace

void AppModel::careTick(double idleSeconds, const QDateTime &now)
{
    // Each step runs whatever the others did. Hunger (11-20 h) and the late hour
    // (23-4 h) never meet, so a tick raises at most two events.
    const bool focusUnderWay = m_focus.phase.kind != FocusSession::Phase::Kind::idle;
    if (m_breakClock.tick(idleSeconds, focusUnderWay, now) && m_breakRemindersEnabled) {
        const QStringList words = breakWords();
        raise(AppEvent::breakTime(words.at(QRandomGenerator::global()->bounded(int(words.size())))));
    }

    const QTimeZone calendar = QTimeZone::systemTimeZone();
    if (m_catRemindersEnabled && m_wellbeing.wantsToNudge(now, calendar)) {
        CatWellbeing next = m_wellbeing;
        next.lastNudgeAt = now;
        setWellbeing(next);
        const QDateTime since = m_wellbeing.lastFedAt.value_or(m_wellbeing.firstSeenAt);
        const QString line =
            L10n::tf("I'm hungry: nothing has gone out since %@. One publication would do.", spoken(since));
        raise(AppEvent::catHungry(line));
        notify(L10n::t("The cat is hungry"), line);
    }

    if (idleSeconds < kLateNightIdleLimit && m_wellbeing.wantsToYawn(now, calendar)) {
        CatWellbeing next = m_wellbeing;
        next.lastYawnAt = now;
        setWellbeing(next);
        raise(AppEvent::lateNight(L10n::t("It's late. I'd sleep.")));
    }
}

void AppModel::feedCat()
{
    CatWellbeing next = m_wellbeing;
    next.recordMeal(clock().now());
    setWellbeing(next);
}

QStringList AppModel::breakWords()
{
    return {L10n::t("Stretch. I already did."), L10n::t("Water. For you, not me."),
            L10n::t("Three breaths. I'll count."), L10n::t("Look out of the window for a minute. I do it all day.")};
}

QString AppModel::spoken(const QDateTime &date)
{
    // In the user's own time zone, read afresh on every call.
    return DateText::date(date, QTimeZone::systemTimeZone());
}

void AppModel::notify(const QString &title, const QString &body) { notifications().post(title, body); }
