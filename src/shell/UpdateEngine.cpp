#include "shell/UpdateEngine.h"

#include "base/Bundle.h"
#include "base/DefaultsStore.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QSslConfiguration>

#ifndef ZK_UPDATE_PUBLIC_KEY
#define ZK_UPDATE_PUBLIC_KEY ""
#endif
#ifndef ZK_UPDATE_FEED_URL
#define ZK_UPDATE_FEED_URL "https://www.sorvane.app/downloads/zephyl-kitty/linux/appcast.xml"
#endif

namespace {
const QString kLastCheck = QStringLiteral("zephyl.mac.update.lastCheckedAt");
constexpr qint64 kReferenceMs = 978'307'200'000; // 2001-01-01 00:00:00 UTC
constexpr int kTransferTimeoutMs = 60'000;

QString defaultStagingFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/zephyl-kitty/updates");
}
} // namespace

UpdateEngine::Config UpdateEngine::applicationConfig()
{
    Config config;
    config.publicKey = QByteArray::fromBase64(QByteArrayLiteral(ZK_UPDATE_PUBLIC_KEY), QByteArray::AbortOnBase64DecodingErrors);
    config.feed = QUrl(QStringLiteral(ZK_UPDATE_FEED_URL));
    config.runningBuild = Bundle::shared().info(QStringLiteral("build")).value_or(QStringLiteral("0"));
    config.prefix = UpdateInstaller::runningPrefix();
    config.quit = [] { QCoreApplication::quit(); };
    config.launch = [](const QString &program) { return QProcess::startDetached(program, {}); };
    return config;
}

UpdateEngine::UpdateEngine(Config config, UserDriver *driver, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_driver(driver), m_network(new QNetworkAccessManager(this))
{
    if (m_config.prefix.isEmpty())
        m_config.prefix = UpdateInstaller::runningPrefix();
    if (m_config.stagingFolder.isEmpty())
        m_config.stagingFolder = defaultStagingFolder();
    m_kind = m_config.kind.value_or(UpdateInstaller::kind(m_config.prefix));
    m_network->setCookieJar(nullptr);
}

UpdateEngine::~UpdateEngine() = default;

DefaultsStore &UpdateEngine::defaults() const { return m_config.defaults ? *m_config.defaults : DefaultsStore::shared(); }

QString UpdateEngine::archivePath() const { return m_config.stagingFolder + QStringLiteral("/update.archive"); }

void UpdateEngine::start()
{
    if (m_started)
        return;
    m_started = true;
    // Whatever an earlier run left half-done is fetched again when still offered.
    QDir(m_config.stagingFolder).removeRecursively();
}

bool UpdateEngine::canCheckForUpdates() const
{
    return m_started && !m_checking && m_config.publicKey.size() == 32;
}

std::optional<QDateTime> UpdateEngine::lastUpdateCheckDate() const
{
    if (const auto seconds = defaults().number(kLastCheck))
        return QDateTime::fromMSecsSinceEpoch(kReferenceMs + qint64(*seconds * 1000.0), Qt::UTC);
    return std::nullopt;
}

void UpdateEngine::checkForUpdatesInBackground()
{
    if (m_started && !m_checking)
        cycle(false);
}

void UpdateEngine::checkForUpdates()
{
    if (!m_started)
        return;
    if (m_checking) { // the quiet check under way reports to the user too
        m_userAsked = true;
        return;
    }
    cycle(true);
}

namespace {
// GET over https only (a redirect may not leave https), at most `limit` bytes,
// into `sink`; false on any failure.
QCoro::Task<bool> fetch(QNetworkAccessManager *network, QUrl url, QList<QSslCertificate> extra, qint64 limit,
                        std::function<bool(const QByteArray &)> sink)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Zephyl Kitty updater"));
    if (!extra.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extra);
        request.setSslConfiguration(tls);
    }
    QNetworkReply *reply = network->get(request);
    qint64 received = 0;
    bool refused = false;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, &received, &refused, limit, &sink] {
        if (refused)
            return;
        const QByteArray chunk = reply->readAll();
        received += chunk.size();
        if (received > limit || !sink(chunk)) {
            refused = true;
            reply->abort();
        }
    });
    QPointer<QNetworkReply> alive(reply);
    co_await qCoro(reply).waitForFinished(std::chrono::milliseconds(-1));
    if (!alive) // the updater went away with its network
        co_return false;
    const bool ok = !refused && reply->error() == QNetworkReply::NoError &&
                    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 &&
                    reply->url().scheme() == QStringLiteral("https");
    reply->disconnect();
    reply->deleteLater();
    co_return ok;
}
} // namespace

QCoro::Task<> UpdateEngine::cycle(bool userInitiated)
{
    m_checking = true;
    m_userAsked = userInitiated;
    QPointer<UpdateEngine> self(this);
    if (m_config.publicKey.size() != 32) {
        end(UpdateError::disabled, m_userAsked);
        co_return;
    }
    // Dated as it begins: a check that ends before any fetch (a feed refused
    // below) still counts, or a date ahead of the clock would let one through
    // every minute.
    defaults().setNumber(kLastCheck, (clock().now().toMSecsSinceEpoch() - kReferenceMs) / 1000.0);
    // The feed address in the settings can be written by any local program: it
    // is taken only over https, and nothing it offers is installed unless the
    // archive is signed with the key built into the application.
    QUrl feed = m_config.feed;
    if (m_delegate) {
        if (const auto configured = m_delegate->feedURLString())
            feed = QUrl(configured->trimmed(), QUrl::StrictMode);
    }
    if (!feed.isValid() || feed.scheme() != QStringLiteral("https") || feed.host().isEmpty()) {
        end(UpdateError::insecureFeed, m_userAsked);
        co_return;
    }

    // Named first: GCC 12 destroys temporaries built inside a co_await expression twice.
    QByteArray xml;
    const std::function<bool(const QByteArray &)> collect = [&xml](const QByteArray &chunk) {
        xml += chunk;
        return true;
    };
    const bool fetched = co_await fetch(m_network, feed, m_config.extraCertificates, Appcast::kMaximumFeedBytes, collect);
    if (!self)
        co_return;
    if (!fetched) {
        end(UpdateError::network, m_userAsked);
        co_return;
    }
    const auto found = Appcast::newest(Appcast::parse(xml), m_config.runningBuild);
    if (!found) {
        end(std::nullopt, m_userAsked);
        co_return;
    }
    const AppcastItem item = *found;

    if (m_kind != UpdateInstaller::Kind::selfUpdating) {
        m_checking = false;
        if (m_userAsked) {
            if (m_driver)
                m_driver->showInstalledElsewhere(item);
            end(std::nullopt, false);
        } else if (m_delegate) {
            // The application shows it; this copy is updated by other means.
            m_delegate->willHandleShowingUpdate(false, item);
            Q_EMIT cycleEnded(std::nullopt);
        }
        co_return;
    }

    if (!m_staged || m_staged->versionString != item.versionString) {
        if (item.archiveLength > UpdateArchive::kMaximumArchiveBytes) {
            end(UpdateError::badArchive, m_userAsked);
            co_return;
        }
        if (!QDir().mkpath(m_config.stagingFolder)) {
            end(UpdateError::cannotStage, m_userAsked);
            co_return;
        }
        QFile::setPermissions(m_config.stagingFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString incoming = m_config.stagingFolder + QStringLiteral("/incoming.part");
        QFile::remove(incoming);
        auto file = std::make_shared<QFile>(incoming);
        if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            end(UpdateError::cannotStage, m_userAsked);
            co_return;
        }
        const std::function<bool(const QByteArray &)> keep = [file](const QByteArray &chunk) {
            return file->write(chunk) == chunk.size();
        };
        const bool downloaded =
            co_await fetch(m_network, item.archiveURL, m_config.extraCertificates, item.archiveLength, keep);
        if (!self)
            co_return;
        const qint64 size = file->size();
        file->close();
        const auto refuse = [&](UpdateError error) {
            QFile::remove(incoming);
            end(error, m_userAsked);
        };
        if (!downloaded) {
            refuse(UpdateError::network);
            co_return;
        }
        // Nothing of the archive is read before its signature checks out.
        const auto bytes = size == item.archiveLength ? UpdateArchive::load(incoming) : std::nullopt;
        if (!bytes || !UpdateArchive::verify(*bytes, item.signature, m_config.publicKey)) {
            refuse(UpdateError::badArchive);
            co_return;
        }
        // A validly signed older archive offered under a newer build would be a downgrade.
        const auto manifest = UpdateArchive::inspect(*bytes);
        if (!manifest || manifest->build != item.versionString) {
            refuse(UpdateError::badArchive);
            co_return;
        }
        QFile::remove(archivePath());
        if (!QFile::rename(incoming, archivePath())) {
            refuse(UpdateError::cannotStage);
            co_return;
        }
        m_staged = item;
        m_checking = false;
        if (m_delegate)
            m_delegate->willInstallUpdateOnQuit(item, [self] {
                if (self)
                    self->installNow();
            });
    }
    m_checking = false;
    if (m_userAsked && m_driver) {
        m_driver->showReady(
            item,
            [self] {
                if (self)
                    self->installNow();
            },
            [self] {
                if (self && self->m_delegate)
                    self->m_delegate->willFinishUpdateSession();
            });
        if (m_delegate)
            m_delegate->didReceiveUserAttention(item);
    }
    Q_EMIT cycleEnded(std::nullopt);
}

void UpdateEngine::end(std::optional<UpdateError> error, bool userInitiated)
{
    m_checking = false;
    if (userInitiated && m_driver) {
        if (error)
            m_driver->showFailure(*error);
        else
            m_driver->showUpToDate();
    }
    // A kept update still installs at quit: its cycle stays open.
    if (!m_staged && m_delegate)
        m_delegate->didFinishUpdateCycle(error);
    Q_EMIT cycleEnded(error);
}

void UpdateEngine::installNow()
{
    if (!m_staged)
        return;
    QPointer<UpdateEngine> self(this);
    auto relaunch = [self] {
        if (!self)
            return;
        self->m_relaunch = true;
        if (self->m_config.quit)
            self->m_config.quit();
    };
    if (!m_delegate || !m_delegate->shouldPostponeRelaunch(*m_staged, relaunch))
        relaunch();
}

bool UpdateEngine::finishOnQuit(QString *why)
{
    if (!m_staged)
        return false;
    const AppcastItem item = *std::exchange(m_staged, std::nullopt);
    const bool installed = UpdateInstaller::install(archivePath(), item.signature, m_config.publicKey, item.versionString,
                                                    m_config.prefix, why);
    QFile::remove(archivePath());
    // Asked to restart: the new copy, or the old one when the install failed.
    if (m_relaunch && m_config.launch)
        m_config.launch(m_config.prefix + QStringLiteral("/bin/zephyl-kitty"));
    return installed;
}
