#pragma once

// A scripted updater and prompt for the update policy and the coordinator's
// hooks: they count what is asked of them.
#include "shell/Updates.h"

#include <QList>

#include <functional>
#include <optional>

namespace {

class FakeUpdater final : public Updater {
public:
    UpdaterDelegate *delegate = nullptr;
    bool started = false;
    bool canCheck = true;
    bool automatic = true;
    std::optional<QDateTime> lastCheck;
    int background = 0;
    int userChecks = 0;

    void setDelegate(UpdaterDelegate *d) override { delegate = d; }
    void start() override { started = true; }
    bool canCheckForUpdates() const override { return started && canCheck; }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    std::optional<QDateTime> lastUpdateCheckDate() const override { return lastCheck; }
    void checkForUpdatesInBackground() override { ++background; }
    void checkForUpdates() override { ++userChecks; }
};

class FakePrompt final : public UpdatePrompt {
public:
    bool visible = false;
    bool sheet = false;
    QList<UpdateOffer> shown;
    std::function<void()> update;
    int dismissed = 0;

    void show(const UpdateOffer &offer, QObject *, std::function<void()> u, std::function<void()>) override
    {
        if (visible)
            return;
        visible = true;
        shown << offer;
        update = std::move(u);
    }
    void dismiss() override
    {
        ++dismissed;
        visible = false;
    }
    bool isVisible() const override { return visible; }
    bool hasSheet(QObject *) const override { return sheet; }
};

inline AppcastItem item(const QString &build, const QString &version, const QString &notes = {})
{
    AppcastItem i;
    i.versionString = build;
    i.displayVersionString = version;
    if (!notes.isEmpty())
        i.itemDescription = notes;
    return i;
}

} // namespace
