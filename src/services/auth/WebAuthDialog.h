#pragma once

#include "services/auth/WebAuthSession.h"

#include <QDialog>
#include <QPointer>
#include <QSslCertificate>
#include <QUrl>

#include <optional>

class QWebEngineProfile;
class QWebEngineView;

// The window of one browser sign-in: a web view that shows the sign-in page
// and closes itself as soon as the page navigates to the callback scheme.
// Closing it by hand ends the sign-in as cancelled.
class WebAuthDialog final : public QDialog {
    Q_OBJECT
public:
    // `ephemeral`: an off-the-record profile, so nothing of earlier sign-ins is
    // shared; otherwise a named profile kept between sign-ins.
    WebAuthDialog(QString callbackScheme, bool ephemeral, QWidget *parent = nullptr);
    ~WebAuthDialog() override;

    // Makes `scheme` a URL scheme of the web engine, so a page's navigation to
    // it (by link, script or HTTP redirect) is a navigation this dialog sees
    // rather than an external launch, which the engine allows only after a
    // click. Must run before the QApplication is made (WebSchemes::registerAll);
    // a later call is too late once any web view exists.
    static void registerCallbackScheme(const QByteArray &scheme = QByteArrayLiteral("sorvane"));

    // Accepts `certificate` besides the system's trust, for loopback addresses
    // only (a local stand-in service), as the workspace's web view does.
    void trustOnLoopback(std::optional<QSslCertificate> certificate) { m_trusted = std::move(certificate); }

    void start(const QUrl &url);
    QUrl callbackURL() const { return m_callback; }
    QWebEngineView *view() const { return m_view; }
    bool isClosing() const { return m_closing; }

Q_SIGNALS:
    // The sign-in ended: `callback` is the callback URL, or empty when the user closed the window.
    void ended(QUrl callback);

protected:
    void done(int result) override;

private Q_SLOTS:
    void openCallback(const QUrl &url);

private:
    friend class WebAuthPage;
    void capture(const QUrl &url);

    QString m_scheme;
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    QUrl m_callback;
    std::optional<QSslCertificate> m_trusted;
    bool m_ended = false;
    bool m_closing = false;
};

// Runs sign-ins in a WebAuthDialog; installed as the session factory by the application.
class WebAuthDialogSession final : public WebAuthSession {
public:
    explicit WebAuthDialogSession(AnchorProvider anchorProvider,
                                  std::optional<QSslCertificate> trustedOnLoopback = std::nullopt);
    ~WebAuthDialogSession() override;

    QCoro::Task<QUrl> run(QUrl url, QString callbackScheme, bool ephemeral) override;

    // The dialog of the running sign-in, if any (for tests and for raising it).
    WebAuthDialog *dialog() const { return m_dialog; }

    // Makes every browser sign-in of the application run in a dialog; the
    // certificate, when given, is trusted on loopback addresses only.
    static void install(std::optional<QSslCertificate> trustedOnLoopback = std::nullopt);

private:
    AnchorProvider m_anchorProvider;
    std::optional<QSslCertificate> m_trusted;
    QPointer<WebAuthDialog> m_dialog;
};
