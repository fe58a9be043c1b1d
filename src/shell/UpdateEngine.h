#pragma once

#include "base/Clock.h"
#include "shell/UpdateArchive.h"
#include "shell/Updater.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class DefaultsStore;
class QNetworkAccessManager;

// The application's own updater: reads the feed over https, downloads the
// newest newer archive over https, checks its Ed25519 signature against the
// key built into the application and what the archive says of itself, keeps it,
// and installs it into the application's prefix when the application quits;
// then, when asked to restart, starts the new copy. An installation the user
// cannot update (a system package, a build tree) is only told about.
class UpdateEngine final : public QObject, public Updater {
    Q_OBJECT
public:
    // The updater's own messages, for the user's checks.
    class UserDriver {
    public:
        virtual ~UserDriver() = default;
        virtual void showUpToDate() = 0;
        virtual void showFailure(UpdateError error) = 0;
        // The update exists but this installation is updated by other means.
        virtual void showInstalledElsewhere(const AppcastItem &item) = 0;
        // The update is ready: `install` restarts into it; `closed` runs when the window goes.
        virtual void showReady(const AppcastItem &item, std::function<void()> install, std::function<void()> closed) = 0;
    };

    struct Config {
        // Ed25519 public key, 32 bytes. Empty: this build has no key and checks nothing.
        QByteArray publicKey;
        QUrl feed;
        QString runningBuild = QStringLiteral("0");
        QString prefix;                             // where updates go; empty: the running one
        std::optional<UpdateInstaller::Kind> kind;  // empty: worked out from the prefix
        QString stagingFolder;                      // empty: the cache folder's
        // Trusted besides the system's authorities. Tests only (the stand-in's own).
        QList<QSslCertificate> extraCertificates;
        std::function<void()> quit;                        // ends the application
        std::function<bool(const QString &program)> launch; // starts the new copy
        bool automaticallyChecks = true;
        DefaultsStore *defaults = nullptr;
        Clock *clock = nullptr;
    };

    // The application's configuration: the key and feed built into it, the
    // running build, the running prefix.
    static Config applicationConfig();

    explicit UpdateEngine(Config config, UserDriver *driver = nullptr, QObject *parent = nullptr);
    ~UpdateEngine() override;

    void setUserDriver(UserDriver *driver) { m_driver = driver; }

    // ---- Updater
    void setDelegate(UpdaterDelegate *delegate) override { m_delegate = delegate; }
    void start() override;
    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override { return m_config.automaticallyChecks; }
    std::optional<QDateTime> lastUpdateCheckDate() const override;
    void checkForUpdatesInBackground() override;
    void checkForUpdates() override;

    // At quit: installs a kept update, then starts the new copy when a restart
    // was asked for. Returns whether an update was installed.
    bool finishOnQuit(QString *why = nullptr);

    const std::optional<AppcastItem> &staged() const { return m_staged; }
    bool relaunchRequested() const { return m_relaunch; }
    UpdateInstaller::Kind kind() const { return m_kind; }
    QString prefix() const { return m_config.prefix; }

signals:
    // A cycle ended (found nothing, failed, or kept an update): for tests and tools.
    void cycleEnded(std::optional<UpdateError> error);

private:
    QCoro::Task<> cycle(bool userInitiated);
    void end(std::optional<UpdateError> error, bool userInitiated);
    void installNow();
    QString archivePath() const;
    Clock &clock() const { return m_config.clock ? *m_config.clock : Clock::shared(); }
    DefaultsStore &defaults() const;

    Config m_config;
    UserDriver *m_driver;
    UpdaterDelegate *m_delegate = nullptr;
    UpdateInstaller::Kind m_kind;
    QNetworkAccessManager *m_network;
    bool m_started = false;
    bool m_checking = false;
    // The running cycle reports to the user: it is theirs, or they asked while it ran.
    bool m_userAsked = false;
    bool m_relaunch = false;
    std::optional<AppcastItem> m_staged;
};
