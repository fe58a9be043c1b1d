#pragma once

#include "services/auth/WebAuthSession.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

// Google sign-in at the accounts provider, in a browser sign-in session that
// shares cookies with earlier ones. The result is the provider's access token,
// which the caller exchanges for the service's own session.
class GoogleSignInService {
public:
    class SignInError final : public std::exception {
    public:
        enum class Kind {
            unavailable, // no authorization URL could be formed
            cancelled,   // the user closed the dialog
            noSession,   // the callback carried no access token
        };
        explicit SignInError(Kind kind) : m_kind(kind) {}
        Kind kind() const { return m_kind; }
        bool operator==(const SignInError &other) const { return m_kind == other.m_kind; }
        const char *what() const noexcept override;

    private:
        Kind m_kind;
    };

    explicit GoogleSignInService(WebAuthSession::AnchorProvider anchorProvider);
    explicit GoogleSignInService(std::unique_ptr<WebAuthSession> web);
    ~GoogleSignInService();

    QCoro::Task<QString> authorize(QUrl supabaseURL);

    // The provider's authorization page for `supabaseURL` (its scheme, host and
    // port kept; path and query replaced); none when no URL can be formed.
    static std::optional<QUrl> authorizationURL(const QUrl &supabaseURL);
    // The "access_token" of a callback's fragment, decoded; none when missing or empty.
    static std::optional<QString> accessToken(const QUrl &callbackURL);

private:
    std::unique_ptr<WebAuthSession> m_web;
};
