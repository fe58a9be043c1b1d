#pragma once

#include "services/auth/WebAuthSession.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Connecting an Instagram account to the service: the service hands out the
// authorization page, the user acts there, and the page ends on
// "sorvane://instagram-connected?status=...".
class InstagramConnectionService {
public:
    class ConnectionError final : public std::exception {
    public:
        enum class Kind {
            invalidCallback,         // the dialog ended on a URL that is not the callback
            invalidAuthorizationURL, // the service's authorization page is not https
            cancelled,               // the user closed the dialog
        };
        explicit ConnectionError(Kind kind) : m_kind(kind) {}
        Kind kind() const { return m_kind; }
        bool operator==(const ConnectionError &other) const { return m_kind == other.m_kind; }
        const char *what() const noexcept override;

    private:
        Kind m_kind;
    };

    // Asks the service for the authorization page; the service client by default.
    using AuthorizationURLProvider = std::function<QCoro::Task<QUrl>()>;

    explicit InstagramConnectionService(WebAuthSession::AnchorProvider anchorProvider);
    InstagramConnectionService(std::unique_ptr<WebAuthSession> web, AuthorizationURLProvider provider);
    ~InstagramConnectionService();

    // `freshLogin`: an ephemeral session, so the user can sign in to another account.
    QCoro::Task<QUrl> authorize(bool freshLogin);

    static bool isHTTPS(const QUrl &url);
    static bool recognizes(const QUrl &callbackURL);
    static std::optional<QString> status(const QUrl &callbackURL);

private:
    std::unique_ptr<WebAuthSession> m_web;
    AuthorizationURLProvider m_provider;
};
