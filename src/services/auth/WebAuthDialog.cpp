#include "services/auth/WebAuthDialog.h"

#include "design/L10n.h"
#include "design/WindowTitles.h"
#include "services/ServiceOrigin.h"

#include <QApplication>
#include <QDesktopServices>
#include <QCoro/QCoroSignal>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QDir>
#include <QFile>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

// Sees every navigation of the sign-in page, redirects included, and stops the
// one that leaves for the callback scheme instead of letting the browser try to
// open it.
class WebAuthPage final : public QWebEnginePage {
public:
    WebAuthPage(QWebEngineProfile *profile, WebAuthDialog *dialog) : QWebEnginePage(profile, dialog), m_dialog(dialog) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        if (url.scheme().compare(m_dialog->m_scheme, Qt::CaseInsensitive) == 0) {
            if (isMainFrame)
                m_dialog->capture(url);
            return false;
        }
        return true;
    }

    // Sign-in pages open no other windows here; a pop-up's target loads in place.
    QWebEnginePage *createWindow(WebWindowType) override { return this; }

private:
    WebAuthDialog *m_dialog;
};

// The callback scheme's handler on the sign-in profile. The engine treats a
// scheme without one as a foreign application's, so it must exist for the
// page's navigations to reach acceptNavigationRequest, which takes them. What
// is left for it are the page's own loads (a picture, a frame's document):
// they are refused, and none of them ends the sign-in.
class CallbackSchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob *job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

void WebAuthDialog::registerCallbackScheme(const QByteArray &name)
{
    if (!QWebEngineUrlScheme::schemeByName(name).name().isEmpty())
        return;
    QWebEngineUrlScheme scheme(name);
    // Not a host syntax: the engine would then rewrite "sorvane://auth-google#..."
    // as "sorvane://auth-google/#...". The callback comes back as the page wrote it.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    QWebEngineUrlScheme::registerScheme(scheme);
}

WebAuthDialog::WebAuthDialog(QString callbackScheme, bool ephemeral, QWidget *parent)
    : QDialog(parent), m_scheme(std::move(callbackScheme))
{
    WindowTitles::set(this, [] { return L10n::t("Sign in"); });
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(520, 680);
    // Registered at start-up; this only helps a program that has not started the engine yet.
    registerCallbackScheme(m_scheme.toUtf8());
    // The profile outlives the page: it is this dialog's child, the page the view's.
    m_profile = ephemeral ? new QWebEngineProfile(this)
                          : new QWebEngineProfile(QStringLiteral("zephyl-sign-in"), this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    if (!ephemeral) {
        // The sign-in cookies are the owner's alone, as the workspace's are.
        const QString storage = m_profile->persistentStoragePath();
        QDir().mkpath(storage);
        QFile::setPermissions(storage, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (!QWebEngineUrlScheme::schemeByName(m_scheme.toUtf8()).name().isEmpty())
        m_profile->installUrlSchemeHandler(m_scheme.toUtf8(), new CallbackSchemeHandler(this));
    m_view = new QWebEngineView(this);
    auto *page = new WebAuthPage(m_profile, this);
    m_view->setPage(page);
    connect(page, &QWebEnginePage::certificateError, this, [this](const QWebEngineCertificateError &error) {
        QWebEngineCertificateError e = error;
        if (m_trusted && ServiceOrigin::isLoopback(e.url()) && !e.certificateChain().isEmpty() &&
            e.certificateChain().first() == *m_trusted)
            e.acceptCertificate();
        else
            e.rejectCertificate();
    });
    // A page that leaves for an unknown scheme is handed to the desktop's URL
    // opener rather than to the page's navigation: while this window is open,
    // the callback scheme's opener is this window.
    QDesktopServices::setUrlHandler(m_scheme, this, "openCallback");
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

WebAuthDialog::~WebAuthDialog()
{
    QDesktopServices::unsetUrlHandler(m_scheme);
    // A window torn down with its parent still ends the sign-in, as cancelled.
    m_closing = true;
    if (!m_ended) {
        m_ended = true;
        Q_EMIT ended(QUrl());
    }
    // Pages must go before their profile.
    if (m_view) {
        delete m_view->page();
        delete m_view;
        m_view = nullptr;
    }
}

void WebAuthDialog::start(const QUrl &url)
{
    m_view->load(url);
    open();
}

void WebAuthDialog::openCallback(const QUrl &url)
{
    if (url.scheme().compare(m_scheme, Qt::CaseInsensitive) == 0)
        capture(url);
}

void WebAuthDialog::capture(const QUrl &url)
{
    if (m_ended)
        return;
    m_callback = url;
    accept();
}

void WebAuthDialog::done(int result)
{
    QDialog::done(result);
    if (m_ended)
        return;
    m_ended = true;
    Q_EMIT ended(m_callback);
}

WebAuthDialogSession::WebAuthDialogSession(AnchorProvider anchorProvider,
                                           std::optional<QSslCertificate> trustedOnLoopback)
    : m_anchorProvider(std::move(anchorProvider)), m_trusted(std::move(trustedOnLoopback))
{
}

WebAuthDialogSession::~WebAuthDialogSession()
{
    delete m_dialog.data();
}

QCoro::Task<QUrl> WebAuthDialogSession::run(QUrl url, QString callbackScheme, bool ephemeral)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()) || !url.isValid())
        throw Failure(Failure::Kind::couldNotStart);
    QWidget *anchor = m_anchorProvider ? m_anchorProvider() : nullptr;
    if (!anchor)
        anchor = QApplication::activeWindow();
    // A new run replaces a dialog left from an earlier one.
    delete m_dialog.data();
    auto *dialog = new WebAuthDialog(std::move(callbackScheme), ephemeral, anchor);
    m_dialog = dialog;
    dialog->trustOnLoopback(m_trusted);
    QPointer<WebAuthDialog> guard(dialog);
    dialog->start(url);
    const std::optional<QUrl> ended = co_await qCoro(dialog, &WebAuthDialog::ended, std::chrono::milliseconds(-1));
    const QUrl callback = ended.value_or(QUrl());
    if (guard && !guard->isClosing())
        guard->deleteLater();
    if (callback.isEmpty())
        throw Failure(Failure::Kind::cancelled);
    co_return callback;
}

void WebAuthDialogSession::install(std::optional<QSslCertificate> trustedOnLoopback)
{
    WebAuthSession::setFactory([trusted = std::move(trustedOnLoopback)](AnchorProvider anchor) {
        return std::make_unique<WebAuthDialogSession>(std::move(anchor), trusted);
    });
}
