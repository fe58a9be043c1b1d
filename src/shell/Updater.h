#pragma once

#include "shell/Appcast.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Why an update cycle ended without an update.
enum class UpdateError {
    disabled,       // this build carries no key to check archives with
    insecureFeed,   // the feed address is not https
    network,        // the feed or the archive could not be fetched
    badFeed,        // the feed is not a usable feed
    badArchive,     // wrong length, bad signature, or contents that are not ours
    cannotStage,    // the archive could not be kept for installing
};

// What the updater asks of the application while it works, and what it tells it.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    // The feed address to read instead of the built-in one; none for the built-in one.
    virtual std::optional<QString> feedURLString() = 0;
    // Before restarting into an update: true keeps `relaunch` to run later (or
    // hands it on); false lets the updater restart at once.
    virtual bool shouldPostponeRelaunch(const AppcastItem &item, std::function<void()> relaunch) = 0;
    // An update is downloaded, verified and will be installed when the
    // application quits; `installNow` installs it and restarts at once.
    virtual bool willInstallUpdateOnQuit(const AppcastItem &item, std::function<void()> installNow) = 0;
    // The cycle is over and left nothing to install.
    virtual void didFinishUpdateCycle(std::optional<UpdateError> error) = 0;
    // An update was found; `updaterShowsIt` is false when the application shows it.
    virtual void willHandleShowingUpdate(bool updaterShowsIt, const AppcastItem &item) = 0;
    // The updater's own window for the update took the user's attention.
    virtual void didReceiveUserAttention(const AppcastItem &item) = 0;
    // The updater's own windows are gone.
    virtual void willFinishUpdateSession() = 0;
};

// Checks the feed, downloads, verifies and installs.
class Updater {
public:
    virtual ~Updater() = default;
    virtual void setDelegate(UpdaterDelegate *delegate) = 0;
    virtual void start() = 0;
    // False while a check runs, or when checking is off.
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual std::optional<QDateTime> lastUpdateCheckDate() const = 0;
    // A quiet check: a found update is downloaded and offered through the delegate.
    virtual void checkForUpdatesInBackground() = 0;
    // The user's check, with the updater's own messages and window.
    virtual void checkForUpdates() = 0;
};

// An update offered in the prompt.
struct UpdateOffer {
    QString build;
    QString version;
    QString notes; // plain text, at most 2000 characters

    friend bool operator==(const UpdateOffer &, const UpdateOffer &) = default;
};

// The application's own prompt for an update, shown by the reminder policy.
class UpdatePrompt {
public:
    virtual ~UpdatePrompt() = default;
    // Ignored while the prompt is visible. `parent` is the window to attach to.
    virtual void show(const UpdateOffer &offer, QObject *parent, std::function<void()> update,
                      std::function<void()> later) = 0;
    virtual void dismiss() = 0;
    virtual bool isVisible() const = 0;
    // Whether `parent` has a sheet (a window-modal dialog) attached.
    virtual bool hasSheet(QObject *parent) const = 0;
};
