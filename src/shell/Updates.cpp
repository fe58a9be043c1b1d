#include "shell/Updates.h"

#include "base/DefaultsStore.h"
#include "services/Json.h"

#include <QRegularExpression>

namespace {
const QString kRemindedBuild = QStringLiteral("zephyl.mac.update.remindedBuild");
const QString kRemindedAt = QStringLiteral("zephyl.mac.update.remindedAt");
const QString kFeed = QStringLiteral("zephyl.mac.rehearse.feed");
// Dates in the settings are seconds since 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceMs = 978'307'200'000;
Updates *g_shared = nullptr;

// The first `count` characters as people count them: an emoji, or a letter with
// its accent, is never cut in half.
QString firstCharacters(const QString &text, int count)
{
    return Text::prefixGraphemes(text, count);
}
} // namespace

Updates::Updates(Updater &updater, UpdatePrompt &prompt, Environment environment, DefaultsStore *defaults, Clock *clock,
                 QObject *parent)
    : QObject(parent), m_updater(updater), m_prompt(prompt), m_environment(std::move(environment)), m_defaults(defaults),
      m_clock(clock)
{
    m_reminder.lastBuild = this->defaults().string(kRemindedBuild);
    if (const auto seconds = this->defaults().number(kRemindedAt))
        m_reminder.lastShown = QDateTime::fromMSecsSinceEpoch(kReferenceMs + qint64(*seconds * 1000.0), Qt::UTC);
    m_updater.setDelegate(this);
}

Updates::~Updates()
{
    m_updater.setDelegate(nullptr);
    if (g_shared == this)
        g_shared = nullptr;
}

Updates *Updates::shared() { return g_shared; }
void Updates::setShared(Updates *updates) { g_shared = updates; }

DefaultsStore &Updates::defaults() const { return m_defaults ? *m_defaults : DefaultsStore::shared(); }

void Updates::start()
{
    if (m_started)
        return;
    m_started = true;
    m_updater.start();
    QPointer<Updates> self(this);
    m_reminderTimer = clock().every(std::chrono::seconds(60), [self] {
        if (self)
            self->checkWhenDue(false);
    });
    checkWhenDue(true);
}

void Updates::applicationBecameActive()
{
    if (m_started)
        checkWhenDue(false);
}

void Updates::checkWhenDue(bool force)
{
    // A restart put off while the user was busy runs at the first calm moment.
    if (m_pendingRelaunch && !isOccupied() && m_environment.applicationActive()) {
        auto relaunch = std::exchange(m_pendingRelaunch, nullptr);
        if (preserveInput)
            preserveInput(std::move(relaunch));
        else
            relaunch();
        return;
    }
    if (m_updater.canCheckForUpdates() && m_updater.automaticallyChecksForUpdates()) {
        if (force) {
            m_updater.checkForUpdatesInBackground();
        } else {
            // A date ahead of the clock was written while it ran fast: taken
            // as it is, it would hold every check back until that date.
            const QDateTime now = clock().now();
            const auto last = m_updater.lastUpdateCheckDate();
            if (!last || *last > now || last->secsTo(now) >= 3600)
                m_updater.checkForUpdatesInBackground();
        }
    }
    showReminderIfPossible();
}

void Updates::showReminderIfPossible()
{
    if (!m_pendingOffer)
        return;
    QObject *parent = workspace ? workspace() : nullptr;
    const QString running = m_environment.runningBuild ? m_environment.runningBuild() : QStringLiteral("0");
    const bool busy = m_prompt.isVisible() || (parent && m_prompt.hasSheet(parent)) || isOccupied();
    if (!m_environment.applicationActive() || busy)
        return;
    if (Appcast::compareVersions(m_pendingOffer->build, running) <= 0)
        return;
    const QDateTime now = clock().now();
    // A reminder dated ahead of the clock does not hold the build back either.
    if (m_reminder.lastBuild == m_pendingOffer->build && m_reminder.lastShown && *m_reminder.lastShown <= now &&
        m_reminder.lastShown->msecsTo(now) < 86'400'000)
        return;
    m_reminder.lastBuild = m_pendingOffer->build;
    m_reminder.lastShown = now;
    defaults().setString(kRemindedBuild, m_pendingOffer->build);
    defaults().setNumber(kRemindedAt, (now.toMSecsSinceEpoch() - kReferenceMs) / 1000.0);
    QPointer<Updates> self(this);
    m_prompt.show(
        *m_pendingOffer, parent,
        [self] {
            if (self)
                self->checkNow();
        },
        [] {});
}

QString Updates::plainNotes(const QString &description)
{
    static const QRegularExpression tags(QStringLiteral("<[^>]+>"));
    QString notes = description;
    notes.remove(tags);
    notes.remove(QStringLiteral("**"));
    return firstCharacters(notes.trimmed(), 2000);
}

void Updates::offer(const AppcastItem &item)
{
    m_pendingOffer = UpdateOffer{item.versionString, item.displayVersionString, plainNotes(item.itemDescription.value_or(QString()))};
    showReminderIfPossible();
}

void Updates::checkNow()
{
    if (isOccupied()) {
        if (onRestartDeferred)
            onRestartDeferred();
        return;
    }
    m_prompt.dismiss();
    if (m_installReady)
        m_installReady();
    else if (m_started)
        m_updater.checkForUpdates();
}

std::optional<QString> Updates::feedURLString() { return defaults().string(kFeed); }

bool Updates::shouldPostponeRelaunch(const AppcastItem &, std::function<void()> relaunch)
{
    if (isOccupied()) {
        m_pendingRelaunch = std::move(relaunch);
        if (onRestartDeferred)
            onRestartDeferred();
        return true;
    }
    if (preserveInput) {
        preserveInput(std::move(relaunch));
        return true;
    }
    return false;
}

bool Updates::willInstallUpdateOnQuit(const AppcastItem &item, std::function<void()> installNow)
{
    const bool changed = m_readyVersion != item.displayVersionString;
    m_readyVersion = item.displayVersionString;
    m_installReady = std::move(installNow);
    if (changed) {
        Q_EMIT readyVersionChanged();
        if (onReady)
            onReady(item.displayVersionString);
    }
    offer(item);
    return true;
}

void Updates::didFinishUpdateCycle(std::optional<UpdateError>)
{
    m_installReady = nullptr;
    const bool changed = m_readyVersion.has_value();
    m_readyVersion.reset();
    m_pendingOffer.reset();
    m_prompt.dismiss();
    if (changed)
        Q_EMIT readyVersionChanged();
}

void Updates::willHandleShowingUpdate(bool updaterShowsIt, const AppcastItem &item)
{
    if (!updaterShowsIt)
        offer(item);
}

void Updates::didReceiveUserAttention(const AppcastItem &) { m_prompt.dismiss(); }

void Updates::willFinishUpdateSession() { m_prompt.dismiss(); }
