#pragma once

#include "services/WebTransport.h"
#include "web/WebWorkspaceModel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class QWebEngineProfile;
class QWebEngineView;
class QWebEnginePage;
class QWebChannel;
class WebPopup;
class WorkspacePage;
class MessagePort;
class FetchPort;
class SessionCookieKeep;

// The service's web app in a web engine view: a persistent profile of its own,
// the boot script and bridge, the page's messages (each with the origin of the
// frame that sent it), the navigation and window rules, and the fetch road for
// the service client's authenticated calls.
class WebWorkspace final : public WebWorkspaceModel, public WebTransport {
    Q_OBJECT
public:
    struct Options {
        // The profile's name; its folder lives under the application's data folder.
        QString storageName = QStringLiteral("zephyl-mac");
        // A certificate accepted besides the system's trust: the local stand-in's
        // own, for running against it. Never set for the real service.
        std::optional<QSslCertificate> trustedCertificate;
    };

    explicit WebWorkspace(std::optional<QUrl> baseURL = std::nullopt, QObject *parent = nullptr);
    WebWorkspace(std::optional<QUrl> baseURL, Options options, QObject *parent = nullptr);
    ~WebWorkspace() override;

    // The scheme that carries the page's messages must be known to the engine
    // before its first profile; the constructor registers it too, as a fallback.
    static void registerSchemes();

    QWebEngineView *webView() const;
    QWebEnginePage *page() const;
    QWebEngineProfile *profile() const { return m_profile; }
    const QList<WebPopup *> &popups() const { return m_popups; }

    // A page whose window is closed rests once it has been hidden for
    // `restDelay`: frozen where the engine allows that (nothing playing),
    // never while a call of ours, a pop-up or the page's composer is open. It
    // keeps its renderer and document, and comes back at once when its window
    // shows again or a call needs it.
    void setRestDelay(std::chrono::milliseconds delay);
    bool resting() const;

    // The page's fetch, carrying its session cookie.
    QCoro::Task<Response> perform(QString path, QString method, std::optional<QByteArray> body,
                                  QMap<QString, QString> headers) override;

    // Where addresses leave the application (the default browser, the mail
    // program); replaceable so tests see the hand-over without a browser.
    std::function<void(const QUrl &)> openExternally;
    // The page's dialogs; replaceable for tests.
    std::function<void(const QString &message)> alert;
    std::function<bool(const QString &message)> confirm;
    // Hands the heap the application no longer uses back to the system, once
    // the page rests; replaceable so tests see when it runs.
    std::function<void()> giveBackMemory;

signals:
    void popupsChanged();
    // The page rested (true) or came back (false).
    void restingChanged(bool resting);

protected:
    bool hasPageURL() const override;
    std::optional<QString> engineVersion() const override;
    void loadURL(const QUrl &url) override;
    void stopLoading() override;
    void runScript(const QString &script, std::function<void()> done) override;
    QSizeF pageSize() const override;
    void fetchCookies(std::function<void(const QList<QNetworkCookie> &)> answer) override;
    void forgetSession(std::function<void()> done) override;
    bool applicationActive() const override;
    double secondsSinceInput() const override;

private:
    friend class WorkspacePage;
    friend class MessagePort;
    friend class FetchPort;

    struct PendingFetch;

    bool acceptNavigation(const QUrl &url, int type, bool mainFrame);
    void handleNewWindow(const QUrl &url, bool userInitiated, const std::function<void(QWebEnginePage *)> &openIn);
    void handleLoading(int status, int errorDomain, int errorCode);
    // A failed load of the service's page, in words for the user.
    static QString describeLoadFailure(int errorDomain, int errorCode);
    // The isolated world's note that the main frame's new document exists.
    void noteCommit(const QString &document, const QUrl &url);
    void deliverMessage(const QByteArray &json, const QString &senderHost, const QString &page);
    void noteClick(const QString &token, const QUrl &href);
    void finishFetch(const QString &id, std::optional<Response> response, std::exception_ptr error);
    void failAllFetches(const QString &why);
    void releaseScriptWaiters();
    void installScripts(QWebEnginePage *page, bool withFetchPort);
    void restSoon();
    void rest();
    // Brings a resting page back.
    void wake();
    bool mayRest() const;
    void runKeptScripts();
    // Keeps a script for a resting page: the latest of its kind.
    void keepScript(const QString &script);
    QCoro::Task<> giveBackSession(std::function<void(const QList<QNetworkCookie> &)> answer);
    QCoro::Task<> dropSession(std::function<void()> done);

    Options m_options;
    QString m_bootScript;
    QWebEngineProfile *m_profile = nullptr;
    WorkspacePage *m_page = nullptr;
    QPointer<QWebEngineView> m_view;
    QWebChannel *m_channel = nullptr;
    FetchPort *m_fetchPort = nullptr;
    MessagePort *m_messagePort = nullptr;
    QList<WebPopup *> m_popups;
    QString m_clickToken;
    QUrl m_lastClick;
    QElapsedTimer m_lastClickAge;
    // The profile's cookies: those kept from earlier runs, then every change the
    // store reports (it lists nothing it loads from disk).
    QList<QNetworkCookie> m_cookies;
    QString m_storagePath;
    SessionCookieKeep *m_sessionKeep = nullptr;
    bool m_sessionGivenBack = false;
    QHash<QString, std::shared_ptr<PendingFetch>> m_fetches;
    // The main frame's document as its isolated world names it, and those it replaced.
    QString m_document;
    QSet<QString> m_retiredDocuments;
    // The last load of the main frame failed and no navigation began since.
    bool m_failedLoad = false;
    // Completions of scripts still running in the page.
    QList<std::shared_ptr<std::function<void()>>> m_scriptWaiters;
    QTimer *m_restTimer = nullptr;
    QStringList m_keptScripts;
};
