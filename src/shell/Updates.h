#pragma once

#include "base/Clock.h"
#include "shell/Updater.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class DefaultsStore;

// The last build offered in the prompt, and when.
struct UpdateReminderPolicy {
    std::optional<QString> lastBuild;
    std::optional<QDateTime> lastShown;
};

// When a quiet check runs, when a found update is offered (at most once a day
// per build, never while the user is busy), and how a restart is put off while
// it would lose work in progress. The updater does the checking and installing.
class Updates final : public QObject, public UpdaterDelegate {
    Q_OBJECT
public:
    struct Environment {
        // The application is the active one.
        std::function<bool()> applicationActive;
        // The running build, "0" when it cannot be read.
        std::function<QString()> runningBuild;
    };

    Updates(Updater &updater, UpdatePrompt &prompt, Environment environment, DefaultsStore *defaults = nullptr,
            Clock *clock = nullptr, QObject *parent = nullptr);
    ~Updates() override;

    // The application's one instance, set by the shell at start.
    static Updates *shared();
    static void setShared(Updates *updates);

    void start();
    // The user's request: restart into a ready update, or check.
    void checkNow();
    // Tell the policy that the application became active.
    void applicationBecameActive();

    const std::optional<QString> &readyVersion() const { return m_readyVersion; }
    const std::optional<UpdateOffer> &pendingOffer() const { return m_pendingOffer; }
    const UpdateReminderPolicy &reminder() const { return m_reminder; }
    bool relaunchPending() const { return bool(m_pendingRelaunch); }

    // ---- Hooks, set by the coordinator before start().
    std::function<void(const QString &version)> onReady;
    // The window the prompt attaches to, if any.
    std::function<QObject *()> workspace;
    // True while a restart would lose the user's work in progress.
    std::function<bool()> occupied;
    // Saves the page's unsent input, then runs the completion.
    std::function<void(std::function<void()> done)> preserveInput;
    std::function<void()> onRestartDeferred;

    // Release notes as plain text: tags and "**" gone, trimmed, at most 2000 characters.
    static QString plainNotes(const QString &description);

    // ---- UpdaterDelegate
    std::optional<QString> feedURLString() override;
    bool shouldPostponeRelaunch(const AppcastItem &item, std::function<void()> relaunch) override;
    bool willInstallUpdateOnQuit(const AppcastItem &item, std::function<void()> installNow) override;
    void didFinishUpdateCycle(std::optional<UpdateError> error) override;
    void willHandleShowingUpdate(bool updaterShowsIt, const AppcastItem &item) override;
    void didReceiveUserAttention(const AppcastItem &item) override;
    void willFinishUpdateSession() override;

signals:
    void readyVersionChanged();

private:
    void checkWhenDue(bool force);
    void showReminderIfPossible();
    void offer(const AppcastItem &item);
    bool isOccupied() const { return occupied && occupied(); }
    Clock &clock() const { return m_clock ? *m_clock : Clock::shared(); }
    DefaultsStore &defaults() const;

    Updater &m_updater;
    UpdatePrompt &m_prompt;
    Environment m_environment;
    DefaultsStore *m_defaults;
    Clock *m_clock;
    bool m_started = false;
    std::optional<QString> m_readyVersion;
    std::optional<UpdateOffer> m_pendingOffer;
    UpdateReminderPolicy m_reminder;
    std::unique_ptr<Clock::Timer> m_reminderTimer;
    std::function<void()> m_pendingRelaunch;
    // The updater's block that installs the downloaded update and restarts now.
    std::function<void()> m_installReady;
};
