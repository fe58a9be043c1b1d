#include "web/WebWorkspace.h"

#include "base/Bundle.h"
#include "companion/CompanionController.h"
#include "design/L10n.h"
#include "design/FileChooser.h"
#include "design/PasteGuard.h"
#include "design/QtWords.h"
#include "design/ServiceDomain.h"
#include "services/AsyncSupport.h"
#include "services/ServiceOrigin.h"
#include "services/WebTransportError.h"
#include "web/BootScript.h"
#include "web/ProfileCookies.h"
#include "web/SessionCookieKeep.h"
#include "web/WebPopup.h"
#include "web/WebRules.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QUuid>
#include <QWebChannel>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QWheelEvent>
#include <QNativeGestureEvent>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const QByteArray kScheme = QByteArrayLiteral("zephyl-bridge");
const QString kMovedOn = QStringLiteral("The page moved on before the answer arrived.");
// Longer messages are not the page's small state reports; they are dropped.
constexpr qsizetype kMaxMessageURL = 256 * 1024;
// How long a closed window's page stays as it is before it rests: a window
// closed and opened again soon finds its page untouched.
constexpr std::chrono::milliseconds kRestDelay = std::chrono::seconds(60);
// Scripts kept for a resting page: the latest of each, a few at most.
constexpr qsizetype kKeptScripts = 16;
// How long a page waits for the store to take the kept session cookie back, or to drop it.
constexpr std::chrono::milliseconds kSessionGiveBackLimit = std::chrono::seconds(3);

QString json(const QJsonValue &value)
{
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// In every frame, before the page's scripts: the handler the page posts to,
// under the name its original engine gives it. Each message leaves as a request
// of the bridge scheme before postMessage returns, so messages keep their order
// and none is lost to a navigation the page starts right after posting; the
// engine stamps each request with the origin of the frame that made it, which
// the application checks. Each message names the document that sent it, so a
// page's own report is told from that of the page loaded after it.
const char *kMessagePortScript = R"JS((function () {
  var XHR = window.XMLHttpRequest, open = XHR.prototype.open, send = XHR.prototype.send;
  var stringify = JSON.stringify, encode = encodeURIComponent;
  var words = new Uint32Array(2);
  crypto.getRandomValues(words);
  var page = words[0].toString(36) + '-' + words[1].toString(36);
  var handler = Object.freeze({ postMessage: function (body) {
    var text;
    try { text = stringify(body); } catch (e) { return; }
    if (typeof text !== 'string') return;
    try {
      var request = new XHR();
      open.call(request, 'GET', 'zephyl-bridge:message?p=' + page + '&m=' + encode(text), false);
      send.call(request);
    } catch (e) {}
  } });
  var webkit = window.webkit || {};
  try {
    Object.defineProperty(webkit, 'messageHandlers', { value: Object.freeze({ zephyl: handler }), enumerable: true });
    Object.defineProperty(window, 'webkit', { value: webkit, enumerable: false, configurable: false });
  } catch (e) {}
})();)JS";

// In the main frame's isolated world, unseen by the page: the note that a new
// document exists (the engine creates it when the first bytes of its answer
// arrive, so this is the navigation's commit; the address shown changes
// earlier, when a load starts), the channel that brings fetch results back,
// and a note of each link the user really clicked, so only those may leave the
// application. The note travels on the channel, not as a request: a request of
// the new document would make the engine lose the report of its load failing.
const char *kFetchPortScript = R"JS((function () {
  var token = %1;
  var words = new Uint32Array(4);
  crypto.getRandomValues(words);
  var documentId = Array.prototype.map.call(words, function (w) { return w.toString(36); }).join('-');
  window.__zephylMacDocument = documentId;
  window.__zephylMacStarted = Object.create(null);
  window.__zephylMacFetchPort = new Promise(function (resolve) {
    new QWebChannel(qt.webChannelTransport, function (channel) {
      var port = channel.objects.fetchPort;
      port.committed(documentId, location.href);
      resolve(port);
    });
  });
  document.addEventListener('click', function (event) {
    if (!event.isTrusted || !event.target || !event.target.closest) return;
    var link = event.target.closest('a[href]');
    if (!link || typeof link.href !== 'string') return;
    try {
      var request = new XMLHttpRequest();
      request.open('GET', 'zephyl-bridge:click?t=' + token + '&u=' + encodeURIComponent(link.href), false);
      request.send();
    } catch (e) {}
  }, true);
})();)JS";

const char *kFetchScript = R"JS((function () {
  var port = window.__zephylMacFetchPort;
  if (!port) return false;
  var id = %1, path = %2, method = %3, headers = %4, body = %5;
  window.__zephylMacStarted[id] = true;
  (async function () {
    var result;
    try {
      const response = await fetch(path, {
        method,
        headers,
        body: body === null ? undefined : body,
        credentials: 'same-origin'
      });
      result = { status: response.status, body: await response.text() };
    } catch (error) {
      result = { error: String((error && error.message) || error) };
    }
    (await port).deliver(id, result);
  })();
  return window.__zephylMacDocument;
})())JS";

// Which of the given fetches this document started.
const char *kStartedScript = R"JS((function () {
  var started = window.__zephylMacStarted || {};
  return %1.filter(function (id) { return !started[id]; });
})())JS";

QString readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QWebEngineScript makeScript(const QString &name, const QString &source, QWebEngineScript::ScriptWorldId world,
                            bool subFrames)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(world);
    script.setRunsOnSubFrames(subFrames);
    return script;
}

bool sameAddress(const QUrl &a, const QUrl &b)
{
    return a.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash) ==
           b.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash);
}

// What each profile folder's store held when its last workspace in this
// process closed: newer than the engine's file, which it writes in batches.
QHash<QString, QList<QNetworkCookie>> &lastCookies()
{
    static QHash<QString, QList<QNetworkCookie>> cookies;
    return cookies;
}

// The engine writes its cookie file from its own threads, in batches, the last
// one when the profile goes; a process that ends at once loses it. Wait, within
// a deadline, until the file holds every live cookie the store last reported.
// The wait runs no event loop: the workspace goes while the application ends,
// and nothing of the application may run on while its parts are being taken
// down (a timer, a page call's caller).
void awaitCookieFile(const QString &folder, const QList<QNetworkCookie> &cookies)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> expected;
    for (const QNetworkCookie &cookie : cookies)
        if (cookie.isSessionCookie() || cookie.expirationDate() > now)
            expected.append(cookie);
    if (expected.isEmpty())
        return;
    const QDeadlineTimer deadline(4000);
    while (true) {
        const QList<QNetworkCookie> onDisk = ProfileCookies::read(folder);
        const bool written = std::all_of(expected.cbegin(), expected.cend(), [&](const QNetworkCookie &cookie) {
            return std::any_of(onDisk.cbegin(), onDisk.cend(),
                               [&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
        });
        if (written || deadline.hasExpired())
            return;
        QThread::msleep(25);
    }
}

} // namespace

// ---- The pieces the engine calls into

struct WebWorkspace::PendingFetch {
    explicit PendingFetch(QObject *context) : trigger(context) {}
    Async::Trigger trigger;
    // The document that runs it; empty until its script says.
    QString document;
    std::optional<Response> response;
    std::exception_ptr error;
};

class WorkspacePage final : public QWebEnginePage {
public:
    WorkspacePage(QWebEngineProfile *profile, WebWorkspace *owner) : QWebEnginePage(profile), m_owner(owner) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        return m_owner ? m_owner->acceptNavigation(url, int(type), isMainFrame) : false;
    }
    void javaScriptAlert(const QUrl &, const QString &message) override
    {
        if (m_owner && m_owner->alert)
            m_owner->alert(message);
    }
    bool javaScriptConfirm(const QUrl &, const QString &message) override
    {
        return m_owner && m_owner->confirm && m_owner->confirm(message);
    }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override { return false; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) override {}
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &, const QStringList &) override
    {
        if (mode == FileSelectSave)
            return {};
        QWebEngineView *shown = QWebEngineView::forPage(this);
        FileChooser::Options options;
        options.pick = mode == FileSelectOpen           ? FileChooser::Pick::oneFile
                       : mode == FileSelectOpenMultiple ? FileChooser::Pick::files
                                                        : FileChooser::Pick::folder;
        QStringList files;
        for (const QUrl &url : FileChooser::choose(options, shown))
            files << url.toLocalFile();
        return files;
    }

private:
    QPointer<WebWorkspace> m_owner;
};

// The page of a connect pop-up. The service's rules do not apply inside it, but
// an address the engine cannot load leaves for the desktop only from the
// pop-up's own page and never for a local scheme (the engine asks for a click).
class PopupPage final : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        const QString scheme = url.scheme().toLower();
        if (scheme.isEmpty() || scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
            scheme == QLatin1String("about") || scheme == QLatin1String("blob") || scheme == QLatin1String("data"))
            return true;
        return isMainFrame && WebRules::mayHandOverScheme(scheme);
    }
};

// Receives the page's messages; it holds the workspace weakly.
class MessagePort final : public QWebEngineUrlSchemeHandler {
public:
    MessagePort(WebWorkspace *owner) : QWebEngineUrlSchemeHandler(owner), m_owner(owner) {}

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const QUrl url = job->requestUrl();
        if (m_owner && url.toEncoded().size() <= kMaxMessageURL) {
            const QUrlQuery query(url);
            const QString what = url.path();
            if (what == QLatin1String("message")) {
                m_owner->deliverMessage(query.queryItemValue(QStringLiteral("m"), QUrl::FullyDecoded).toUtf8(),
                                        job->initiator().host(), query.queryItemValue(QStringLiteral("p")));
            } else if (what == QLatin1String("click")) {
                m_owner->noteClick(query.queryItemValue(QStringLiteral("t")),
                                   QUrl(query.queryItemValue(QStringLiteral("u"), QUrl::FullyDecoded)));
            }
        }
        auto *empty = new QBuffer(job);
        empty->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/plain"), empty);
    }

private:
    QPointer<WebWorkspace> m_owner;
};

// The isolated world's end of the fetch road.
class FetchPort final : public QObject {
    Q_OBJECT
public:
    explicit FetchPort(WebWorkspace *owner) : QObject(owner), m_owner(owner) {}

public slots:
    void committed(const QString &document, const QString &url)
    {
        if (m_owner)
            m_owner->noteCommit(document, QUrl(url));
    }

    void deliver(const QString &id, const QJsonObject &result)
    {
        if (!m_owner)
            return;
        if (result.value(QLatin1String("error")).isString()) {
            m_owner->finishFetch(id, std::nullopt,
                                 std::make_exception_ptr(WebScriptError(result.value(QLatin1String("error")).toString())));
            return;
        }
        const QJsonValue status = result.value(QLatin1String("status"));
        const QJsonValue body = result.value(QLatin1String("body"));
        const double number = status.toDouble(-1);
        if (!status.isDouble() || !body.isString() || !std::isfinite(number) || number != std::floor(number) ||
            std::abs(number) > 1e9) {
            m_owner->finishFetch(id, std::nullopt,
                                 std::make_exception_ptr(WebTransportError(WebTransportError::Kind::malformed)));
            return;
        }
        m_owner->finishFetch(id, WebTransport::Response{int(number), body.toString().toUtf8()}, nullptr);
    }

private:
    QPointer<WebWorkspace> m_owner;
};

// Magnification is off: the engine zooms on Ctrl with the wheel and on a pinch
// of the touchpad, which this window never wants. The events reach the widget
// that draws the page, a child of the view made anew when the page's process
// starts again, so each new child gets the filter too.
class NoMagnification final : public QObject {
public:
    explicit NoMagnification(QWidget *view) : QObject(view)
    {
        watch(view);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ChildAdded:
            if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
                watch(child);
            return false;
        case QEvent::Wheel:
            return static_cast<QWheelEvent *>(event)->modifiers().testFlag(Qt::ControlModifier);
        case QEvent::NativeGesture: {
            const auto kind = static_cast<QNativeGestureEvent *>(event)->gestureType();
            return kind == Qt::ZoomNativeGesture || kind == Qt::SmartZoomNativeGesture;
        }
        default: return false;
        }
    }

private:
    void watch(QWidget *widget)
    {
        widget->installEventFilter(this);
        for (QWidget *child : widget->findChildren<QWidget *>())
            child->installEventFilter(this);
    }
};

// ---- WebWorkspace

void WebWorkspace::registerSchemes()
{
    if (!QWebEngineUrlScheme::schemeByName(kScheme).name().isEmpty())
        return;
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Reachable from the service's https pages whatever their content policy.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);
}

WebWorkspace::WebWorkspace(std::optional<QUrl> baseURL, QObject *parent)
    : WebWorkspace(std::move(baseURL), Options{}, parent)
{
}

WebWorkspace::WebWorkspace(std::optional<QUrl> baseURL, Options options, QObject *parent)
    : WebWorkspaceModel(std::move(baseURL), nullptr, parent), m_options(std::move(options))
{
    registerSchemes();
    // Built once: pop-ups opened later get the same configuration as the page.
    m_bootScript = BootScript::script();
    m_clickToken = QString::number(QRandomGenerator::system()->generate64(), 36) +
                   QString::number(QRandomGenerator::system()->generate64(), 36);

    // The profile's folder holds the page's cookies: the owner's alone.
    const QString dataRoot = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString storage = dataRoot + QStringLiteral("/QtWebEngine/") + m_options.storageName;
    QDir().mkpath(storage);
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    QFile::setPermissions(dataRoot + QStringLiteral("/QtWebEngine"), ownerOnly);
    QFile::setPermissions(storage, ownerOnly);

    // What the profile kept from earlier runs, read before the engine opens the
    // file; the store's own signals add what changes from here on.
    m_storagePath = storage;
    m_cookies = lastCookies().contains(storage) ? lastCookies().value(storage) : ProfileCookies::read(storage);

    m_profile = new QWebEngineProfile(m_options.storageName, this);
    m_profile->setPersistentStoragePath(storage);
    // The page's cookies outlive the run, a session cookie without an expiry date
    // included, so a restart finds the user signed in.
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    m_profile->setHttpUserAgent(m_profile->httpUserAgent() + u' ' + BootScript::userAgentName(Bundle::shared().version()));
    QDir().mkpath(m_profile->cachePath());
    QFile::setPermissions(m_profile->cachePath(), ownerOnly);

    m_messagePort = new MessagePort(this);
    m_profile->installUrlSchemeHandler(kScheme, m_messagePort);

    // The session cookie is kept beside the engine's file, as owner-only as it.
    m_sessionKeep = new SessionCookieKeep(
        std::make_unique<FileSecretBackend>(storage + QStringLiteral("/Session cookie.json")), this->baseURL().host(), this);
    QWebEngineCookieStore *cookies = m_profile->cookieStore();
    connect(cookies, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        m_cookies.removeIf([&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
        m_cookies.append(cookie);
        m_sessionKeep->added(cookie);
    });
    connect(cookies, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie &cookie) {
        m_cookies.removeIf([&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
        m_sessionKeep->removed(cookie);
    });

    m_page = new WorkspacePage(m_profile, this);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    m_page->setBackgroundColor(QColor(11, 11, 11));
    m_channel = new QWebChannel(this);
    m_fetchPort = new FetchPort(this);
    m_channel->registerObject(QStringLiteral("fetchPort"), m_fetchPort);
    m_page->setWebChannel(m_channel, QWebEngineScript::ApplicationWorld);
    installScripts(m_page, true);

    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        handleLoading(int(info.status()), int(info.errorDomain()), info.errorCode());
    });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this](auto, int) {
        failAllFetches(QStringLiteral("The page's process ended."));
        releaseScriptWaiters();
        QTimer::singleShot(0, this, [this] { contentProcessEnded(); });
    });
    connect(m_page, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                const bool audio = feature == QWebEnginePage::MediaAudioCapture;
                const bool grant = audio && WebRules::grantsMediaCapture(this->baseURL(), origin.host(), true, false);
                m_page->setFeaturePermission(origin, feature,
                                             grant ? QWebEnginePage::PermissionGrantedByUser
                                                   : QWebEnginePage::PermissionDeniedByUser);
            });
    connect(m_page, &QWebEnginePage::certificateError, this, [this](const QWebEngineCertificateError &error) {
        QWebEngineCertificateError e = error;
        if (ServiceOrigin::isLoopback(e.url()) && m_options.trustedCertificate && !e.certificateChain().isEmpty() &&
            e.certificateChain().first() == *m_options.trustedCertificate)
            e.acceptCertificate();
        else
            e.rejectCertificate();
    });
    connect(m_page, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
        handleNewWindow(request.requestedUrl(), request.isUserInitiated(),
                        [&request](QWebEnginePage *page) { request.openIn(page); });
    });

    m_view = new QWebEngineView;
    m_view->setPage(m_page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    new NoMagnification(m_view);
    // The page's pastes wait for a clipboard that answers (the engine itself
    // would hold the application up for seconds a format on one that does not).
    PasteGuard::install();

    // The engine stops drawing a hidden page by itself; what it holds beyond
    // that is given back once the page has been hidden for a while.
    m_restTimer = new QTimer(this);
    m_restTimer->setSingleShot(true);
    m_restTimer->setInterval(kRestDelay);
    connect(m_restTimer, &QTimer::timeout, this, &WebWorkspace::rest);
    connect(m_page, &QWebEnginePage::visibleChanged, this, [this](bool visible) {
        if (visible) {
            m_restTimer->stop();
            wake();
        } else {
            restSoon();
        }
    });
    connect(m_page, &QWebEnginePage::lifecycleStateChanged, this, [this](QWebEnginePage::LifecycleState state) {
        if (state != QWebEnginePage::LifecycleState::Active) {
            if (state == QWebEnginePage::LifecycleState::Frozen) {
                emit restingChanged(true);
                // What the hidden page's drawing and loads held has been freed
                // in this process by now, but the allocator keeps it until told.
                if (giveBackMemory)
                    giveBackMemory();
            }
            return;
        }
        // Shown again, the engine makes the page active itself.
        runKeptScripts();
        emit restingChanged(false);
        if (!m_page->isVisible())
            restSoon();
    });
    connect(this, &WebWorkspaceModel::workspaceReadyChanged, this, [this] {
        if (workspaceReady())
            runKeptScripts();
    });

    openExternally = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    giveBackMemory = [] {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    };
    alert = [this](const QString &message) {
        QMessageBox box(QMessageBox::NoIcon, QString(), message, QMessageBox::Ok, m_view ? m_view->window() : nullptr);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    confirm = [this](const QString &message) {
        QMessageBox box(QMessageBox::NoIcon, QString(), message, QMessageBox::NoButton, m_view ? m_view->window() : nullptr);
        box.setTextFormat(Qt::PlainText);
        QPushButton *ok = box.addButton(L10n::t("OK"), QMessageBox::AcceptRole);
        box.addButton(L10n::t("Cancel"), QMessageBox::RejectRole);
        box.exec();
        return box.clickedButton() == reinterpret_cast<QAbstractButton *>(ok);
    };

    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, [this] { updateCalm(false); });
}

WebWorkspace::~WebWorkspace()
{
    // Nothing of ours runs while the engine is waited for below. Calls through
    // the page still on their way are left unanswered, as are answers that came
    // in but were not handed over yet: the workspace goes only as the
    // application ends, whose callers must not act on them (the service client
    // would fall back on its own road, find no session there and end it) nor
    // run on among parts already gone.
    stopTimers();
    m_fetches.clear();
    QCoreApplication::removePostedEvents(this);
    lastCookies().insert(m_storagePath, m_cookies);
    releaseScriptWaiters();
    // Pages go before their profile: the open pop-ups, and those closed whose
    // deletion still waits for the event loop.
    m_popups.clear();
    qDeleteAll(findChildren<WebPopup *>(Qt::FindDirectChildrenOnly));
    if (m_view) {
        m_view->setPage(nullptr);
        delete m_view;
    }
    delete m_page;
    m_page = nullptr;
    delete m_profile;
    m_profile = nullptr;
    awaitCookieFile(m_storagePath, m_cookies);
}

QWebEnginePage *WebWorkspace::page() const { return m_page; }
QWebEngineView *WebWorkspace::webView() const { return m_view.data(); }

void WebWorkspace::installScripts(QWebEnginePage *page, bool withFetchPort)
{
    QWebEngineScriptCollection &scripts = page->scripts();
    scripts.insert(makeScript(QStringLiteral("zephyl-message-port"), QString::fromLatin1(kMessagePortScript),
                              QWebEngineScript::MainWorld, true));
    scripts.insert(makeScript(QStringLiteral("zephyl-mac"), m_bootScript, QWebEngineScript::MainWorld, false));
    if (withFetchPort) {
        const QString source = readResource(QStringLiteral(":/qtwebchannel/qwebchannel.js")) + u'\n' +
                               QString::fromLatin1(kFetchPortScript).arg(json(m_clickToken));
        scripts.insert(makeScript(QStringLiteral("zephyl-fetch-port"), source, QWebEngineScript::ApplicationWorld, false));
    }
}

// ---- Hooks of the model

bool WebWorkspace::hasPageURL() const { return m_page && !m_page->url().isEmpty(); }

std::optional<QString> WebWorkspace::engineVersion() const
{
    const QString version = QString::fromLatin1(qWebEngineChromiumVersion());
    if (version.isEmpty())
        return std::nullopt;
    return version;
}

void WebWorkspace::loadURL(const QUrl &url)
{
    if (m_page)
        m_page->load(url);
}

void WebWorkspace::stopLoading()
{
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

void WebWorkspace::runScript(const QString &script, std::function<void()> done)
{
    if (!m_page) {
        if (done)
            done();
        return;
    }
    // A resting page is not woken to be told something: what it is told is
    // kept and told once it is back. One whose answer is awaited is woken.
    if (resting()) {
        if (!done) {
            keepScript(script);
            return;
        }
        wake();
    }
    if (!done) {
        m_page->runJavaScript(script, QWebEngineScript::MainWorld);
        return;
    }
    // The engine drops the answer of a script whose document or process goes
    // away; the waiter is then told by the event that ended the document.
    auto waiter = std::make_shared<std::function<void()>>(std::move(done));
    m_scriptWaiters.append(waiter);
    QPointer<WebWorkspace> self(this);
    m_page->runJavaScript(script, QWebEngineScript::MainWorld, [self, waiter](const QVariant &) {
        if (self)
            self->m_scriptWaiters.removeAll(waiter);
        if (auto call = std::exchange(*waiter, {}))
            call();
    });
}

void WebWorkspace::releaseScriptWaiters()
{
    for (const auto &waiter : std::exchange(m_scriptWaiters, {})) {
        if (auto call = std::exchange(*waiter, {}))
            call();
    }
}

QSizeF WebWorkspace::pageSize() const { return m_view ? QSizeF(m_view->size()) : QSizeF(); }

void WebWorkspace::fetchCookies(std::function<void(const QList<QNetworkCookie> &)> answer)
{
    if (std::exchange(m_sessionGivenBack, true))
        answer(m_cookies);
    else
        giveBackSession(std::move(answer));
}

QCoro::Task<> WebWorkspace::giveBackSession(std::function<void(const QList<QNetworkCookie> &)> answer)
{
    // The first entry waits, within a limit, until the store holds the kept
    // session cookie: the engine's file may not have it yet.
    const QPointer<WebWorkspace> self(this);
    const std::optional<QNetworkCookie> kept = co_await m_sessionKeep->load();
    if (!self)
        co_return;
    if (kept && m_profile) {
        Async::Trigger taken(this);
        const auto take = taken.firer();
        const auto watch = connect(m_profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
                                   [kept, take](const QNetworkCookie &cookie) {
                                       if (cookie.name() == kept->name() && cookie.value() == kept->value())
                                           take();
                                   });
        QTimer::singleShot(kSessionGiveBackLimit, this, take);
        QUrl origin = baseURL();
        origin.setPath(QStringLiteral("/"));
        m_profile->cookieStore()->setCookie(*kept, origin);
        co_await taken;
        if (!self)
            co_return;
        disconnect(watch);
    }
    answer(m_cookies);
}

void WebWorkspace::forgetSession(std::function<void()> done) { dropSession(std::move(done)); }

QCoro::Task<> WebWorkspace::dropSession(std::function<void()> done)
{
    const QString host = baseURL().host();
    const auto isSession = [host](const QNetworkCookie &cookie) { return WebRules::isSessionCookie(cookie, host); };
    const auto held = [this, isSession] { return std::any_of(m_cookies.cbegin(), m_cookies.cend(), isSession); };
    if (m_profile && held()) {
        // The page's next load must not carry it: wait, within a limit, until
        // the store says it is gone.
        const QPointer<WebWorkspace> self(this);
        Async::Trigger gone(this);
        const auto fire = gone.firer();
        const auto watch = connect(m_profile->cookieStore(), &QWebEngineCookieStore::cookieRemoved, this,
                                   [held, fire] {
                                       if (!held())
                                           fire();
                                   });
        QTimer::singleShot(kSessionGiveBackLimit, this, fire);
        QUrl origin = baseURL();
        origin.setPath(QStringLiteral("/"));
        for (const QNetworkCookie &cookie : std::as_const(m_cookies)) {
            if (isSession(cookie))
                m_profile->cookieStore()->deleteCookie(cookie, origin);
        }
        co_await gone;
        if (!self)
            co_return;
        disconnect(watch);
        // Gone here whatever the store said: neither the entry page nor a restart takes it up.
        for (const QNetworkCookie &cookie : std::as_const(m_cookies)) {
            if (isSession(cookie))
                m_sessionKeep->removed(cookie);
        }
        m_cookies.removeIf(isSession);
    }
    done();
}

bool WebWorkspace::applicationActive() const
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

double WebWorkspace::secondsSinceInput() const { return CompanionController::secondsSinceInput(); }

// ---- Rest

void WebWorkspace::setRestDelay(std::chrono::milliseconds delay)
{
    m_restTimer->setInterval(delay);
    if (m_restTimer->isActive())
        m_restTimer->start();
}

bool WebWorkspace::resting() const
{
    return m_page && m_page->lifecycleState() != QWebEnginePage::LifecycleState::Active;
}

void WebWorkspace::restSoon()
{
    if (m_page && !m_page->isVisible() && !resting())
        m_restTimer->start();
}

bool WebWorkspace::mayRest() const
{
    if (!m_page || m_page->isVisible())
        return false;
    // The page is at work for the application or the user.
    if (!m_fetches.isEmpty() || !m_scriptWaiters.isEmpty() || !m_popups.isEmpty() || composerOpen() || demoing)
        return false;
    // Its outcome reaches the cat only through the page's own watch.
    if (watchingPublication())
        return false;
    // What it was told while it rested is not delivered yet.
    if (!m_keptScripts.isEmpty())
        return false;
    const auto kind = phase().kind;
    return kind == Phase::Kind::workspace || kind == Phase::Kind::signIn;
}

void WebWorkspace::rest()
{
    if (!m_page || m_page->isVisible() || resting())
        return;
    // The engine knows what a page would lose: sound or a capture keeps it
    // active. A rested page is frozen, never discarded: a discarded one needs
    // a new renderer to come back, and on a busy machine the engine can leave
    // that unstarted for a minute, a reload not hurrying it, so a call through
    // it would wait for nothing. The frozen page keeps its renderer and
    // document and is back at once.
    if (!mayRest() || m_page->recommendedState() == QWebEnginePage::LifecycleState::Active) {
        restSoon();
        return;
    }
    m_page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
}

void WebWorkspace::wake()
{
    if (resting())
        m_page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
}

void WebWorkspace::keepScript(const QString &script)
{
    // Only the latest of each kind matters (the focus round's countdown, the
    // screen asked for): a countdown ticking for an hour must not push the
    // screen the user asked for out of the list.
    const QStringView kind = QStringView(script).left(script.indexOf(u'('));
    const auto sameKind = [&](const QString &kept) { return QStringView(kept).left(kept.indexOf(u'(')) == kind; };
    m_keptScripts.removeIf(sameKind);
    m_keptScripts.append(script);
    while (m_keptScripts.size() > kKeptScripts)
        m_keptScripts.removeFirst();
}

void WebWorkspace::runKeptScripts()
{
    for (const QString &script : std::exchange(m_keptScripts, {}))
        runScript(script, {});
}

// ---- Navigation, windows, loads

bool WebWorkspace::acceptNavigation(const QUrl &url, int type, bool mainFrame)
{
    bool userStarted = false;
    if (type == QWebEnginePage::NavigationTypeLinkClicked && mainFrame && m_lastClick.isValid() &&
        m_lastClickAge.isValid() && m_lastClickAge.elapsed() < 5000 && sameAddress(m_lastClick, url)) {
        userStarted = true;
        m_lastClick = QUrl();
    }
    switch (WebRules::decideNavigation(baseURL(), {url, mainFrame, userStarted})) {
    case WebRules::NavigationVerdict::allow:
        if (mainFrame)
            m_failedLoad = false;
        return true;
    case WebRules::NavigationVerdict::cancel: return false;
    case WebRules::NavigationVerdict::openEntry:
        QTimer::singleShot(0, this, [this] { openEntry(); });
        return false;
    case WebRules::NavigationVerdict::openExternally:
        if (openExternally)
            openExternally(url);
        return false;
    }
    return false;
}

void WebWorkspace::noteClick(const QString &token, const QUrl &href)
{
    if (token != m_clickToken || !href.isValid())
        return;
    m_lastClick = href;
    m_lastClickAge.start();
}

void WebWorkspace::handleNewWindow(const QUrl &url, bool userInitiated,
                                   const std::function<void(QWebEnginePage *)> &openIn)
{
    switch (WebRules::decidePopup(baseURL(), url, userInitiated)) {
    case WebRules::PopupVerdict::none: return;
    case WebRules::PopupVerdict::openExternally:
        if (openExternally)
            openExternally(url);
        return;
    case WebRules::PopupVerdict::connectWindow: break;
    }
    auto *page = new PopupPage(m_profile);
    page->setBackgroundColor(QColor(11, 11, 11));
    installScripts(page, false);
    QPointer<WebWorkspace> self(this);
    auto *popup = new WebPopup(page, [] { return L10n::t("Connect Instagram"); }, [self](WebPopup *closed) {
        if (!self)
            return;
        if (self->m_popups.removeAll(closed) > 0)
            emit self->popupsChanged();
        closed->deleteLater();
    }, this);
    m_popups.append(popup);
    popup->place(m_view && m_view->isVisible() ? m_view->window() : nullptr);
    openIn(page);
    emit popupsChanged();
}

void WebWorkspace::noteCommit(const QString &document, const QUrl &url)
{
    if (document.isEmpty() || document == m_document || m_retiredDocuments.contains(document))
        return;
    if (!m_document.isEmpty()) {
        if (m_retiredDocuments.size() >= 64)
            m_retiredDocuments.clear();
        m_retiredDocuments.insert(m_document);
    }
    m_document = document;
    // Fetches of the document that was left never answer. Those whose script
    // has not reported where it ran are asked for in the new document: a
    // script the engine sent to the old one may never report back at all.
    QStringList unplaced;
    for (const QString &id : m_fetches.keys()) {
        const QString ranIn = m_fetches.value(id)->document;
        if (ranIn.isEmpty())
            unplaced << id;
        else if (ranIn != document)
            finishFetch(id, std::nullopt, std::make_exception_ptr(WebScriptError(kMovedOn)));
    }
    if (!unplaced.isEmpty()) {
        QPointer<WebWorkspace> self(this);
        const QString probe = QString::fromLatin1(kStartedScript).arg(json(QJsonArray::fromStringList(unplaced)));
        m_page->runJavaScript(probe, QWebEngineScript::ApplicationWorld, [self](const QVariant &missing) {
            if (!self)
                return;
            for (const QVariant &id : missing.toList()) {
                const auto pending = self->m_fetches.value(id.toString());
                if (pending && pending->document.isEmpty())
                    self->finishFetch(id.toString(), std::nullopt, std::make_exception_ptr(WebScriptError(kMovedOn)));
            }
        });
    }
    releaseScriptWaiters();
    // The engine's blank and error documents are no answer of the service; nor
    // is the beginning of an answer that then broke off, whose note may come
    // after the failure.
    const QString scheme = url.scheme();
    if (!m_failedLoad && (scheme == QLatin1String("https") || scheme == QLatin1String("http")))
        pageCommitted(url);
}

void WebWorkspace::handleLoading(int status, int errorDomain, int errorCode)
{
    switch (QWebEngineLoadingInfo::LoadStatus(status)) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        const auto domain = QWebEngineLoadingInfo::ErrorDomain(errorDomain);
        // A load that ends without any error is the page's process going away;
        // its recovery reopens the entry page, with no failure page between.
        if (domain == QWebEngineLoadingInfo::NoErrorDomain)
            return;
        // An HTTP status is the service's answer: its page shows as pages do.
        // Every other domain (a connection, a certificate, a broken answer) is
        // a failure of the load, whose error page replaces the document.
        if (domain != QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            if (WebRules::isIgnoredLoadFailure(errorCode))
                return;
            failAllFetches(kMovedOn);
            releaseScriptWaiters();
            m_failedLoad = true;
            loadFailed(errorCode, describeLoadFailure(errorDomain, errorCode));
            return;
        }
        break;
    }
    }
    pageLoaded();
}

QString WebWorkspace::describeLoadFailure(int errorDomain, int errorCode)
{
    // The engine's own text is a code such as net::ERR_CONTENT_LENGTH_MISMATCH:
    // the user gets a sentence in the language of the application.
    const auto domain = QWebEngineLoadingInfo::ErrorDomain(errorDomain);
    if (domain == QWebEngineLoadingInfo::ConnectionErrorDomain || domain == QWebEngineLoadingInfo::DnsErrorDomain)
        return L10n::t("No connection to " ZEPHYL_SERVICE_DOMAIN " right now.");
    // -7 ERR_TIMED_OUT: an answer that stopped arriving.
    if (errorCode == -7)
        return L10n::t(ZEPHYL_SERVICE_DOMAIN " took too long to answer.");
    return L10n::t("The page from " ZEPHYL_SERVICE_DOMAIN " could not be loaded.");
}

void WebWorkspace::deliverMessage(const QByteArray &text, const QString &senderHost, const QString &page)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return;
    receive(document.object(), senderHost, page);
}

// ---- The fetch road

QCoro::Task<WebTransport::Response> WebWorkspace::perform(QString path, QString method, std::optional<QByteArray> body,
                                                          QMap<QString, QString> headers)
{
    // An answer arrives through the event loop and by the workspace: a caller
    // whose workspace is gone is never resumed. A refusal before anything is
    // sent comes at once.
    auto pending = std::make_shared<PendingFetch>(this);
    // A resting page is brought back for the call.
    wake();
    const QUrl current = m_page ? m_page->url() : QUrl();
    if (current.isEmpty() || current.host().isEmpty() || !isZephyl(current.host())) {
        pending->error = std::make_exception_ptr(WebTransportError(WebTransportError::Kind::notReady));
        pending->trigger.fire();
        co_await pending->trigger;
        std::rethrow_exception(pending->error);
    }

    QJsonValue bodyText = QJsonValue::Null;
    if (body) {
        auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(*body);
        if (!decoder.hasError())
            bodyText = text;
    }
    QJsonObject headerObject;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        headerObject.insert(it.key(), it.value());

    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_fetches.insert(id, pending);
    const QString script = QString::fromLatin1(kFetchScript)
                               .arg(json(id), json(path), json(method), json(headerObject), json(bodyText));
    QPointer<WebWorkspace> self(this);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [self, id](const QVariant &started) {
        if (!self)
            return;
        const QString document = started.typeId() == QMetaType::QString ? started.toString() : QString();
        if (document.isEmpty()) {
            self->finishFetch(id, std::nullopt,
                              std::make_exception_ptr(WebTransportError(WebTransportError::Kind::notReady)));
        } else if (self->m_retiredDocuments.contains(document)) {
            self->finishFetch(id, std::nullopt, std::make_exception_ptr(WebScriptError(kMovedOn)));
        } else if (const auto pending = self->m_fetches.value(id)) {
            pending->document = document;
        }
    });
    co_await pending->trigger;
    if (pending->error)
        std::rethrow_exception(pending->error);
    if (!pending->response)
        throw WebTransportError(WebTransportError::Kind::notReady);
    co_return *pending->response;
}

void WebWorkspace::finishFetch(const QString &id, std::optional<Response> response, std::exception_ptr error)
{
    const auto pending = m_fetches.take(id);
    if (!pending)
        return;
    pending->response = std::move(response);
    pending->error = error;
    pending->trigger.fire();
}

void WebWorkspace::failAllFetches(const QString &why)
{
    const auto ids = m_fetches.keys();
    for (const QString &id : ids)
        finishFetch(id, std::nullopt, std::make_exception_ptr(WebScriptError(why)));
}

#include "WebWorkspace.moc"
