// The service's own session: configuration, the exchange of a provider token,
// refresh with rotating refresh tokens, sign-out, and the current user.

#include "StandinServer.h"

#include <QJsonValue>

namespace Standin {

namespace {

QJsonObject userJson(const State::Account &account)
{
    QJsonObject user{{"userId", account.userId}, {"email", account.email}, {"role", "creator"}};
    if (!account.fullName.isEmpty())
        user.insert("displayName", account.fullName);
    return user;
}

// A fresh access and refresh token pair in the given chain of rotations.
QJsonObject issueSession(State &state, const State::Account &account, const QString &family)
{
    const QString access = state.newToken(QStringLiteral("svc-access"));
    const QString refresh = state.newToken(QStringLiteral("svc-refresh"));
    state.accessTokens.insert(access, account.userId);
    state.accessFamilies.insert(access, family);
    state.refreshTokens.insert(refresh, State::RefreshToken{account.userId, family, false});
    return QJsonObject{{"accessToken", access},
                       {"refreshToken", refresh},
                       {"expiresIn", 900},
                       {"user", userJson(account)},
                       {"mayHaveAnotherAccount", false}};
}

std::optional<QString> bearer(const Seen &seen)
{
    const QByteArray value = seen.header("authorization");
    if (!value.startsWith("Bearer "))
        return std::nullopt;
    return QString::fromUtf8(value.mid(7));
}

} // namespace

void addServiceAuthRoutes(Server &server)
{
    State &state = server.state();

    server.route("GET", QStringLiteral("/api/v1/auth/config"), [&server](const Seen &) {
        return Answer::json(200, QJsonObject{{"supabaseUrl", server.providerURL()}, {"supabaseAnonKey", Server::anonKey}});
    });

    server.route("POST", QStringLiteral("/api/v1/auth/supabase/exchange"), [&state](const Seen &seen) {
        const QJsonObject body = seen.json();
        if (!body.value("accessToken").isString() || !body.value("deviceLabel").isString())
            return Answer::error(400, QStringLiteral("invalid_request"));
        const QString email = state.providerTokens.value(body.value("accessToken").toString());
        if (email.isEmpty() || !state.accounts.contains(email))
            return Answer::error(401, QStringLiteral("provider_token_invalid"));
        const State::Account &account = state.accounts[email];
        return Answer::json(200, issueSession(state, account, state.newToken(QStringLiteral("family"))));
    });

    server.route("POST", QStringLiteral("/api/v1/auth/refresh"), [&state](const Seen &seen) {
        const QJsonObject body = seen.json();
        if (!body.value("refreshToken").isString() || !body.value("deviceLabel").isString())
            return Answer::error(400, QStringLiteral("invalid_request"));
        const QString token = body.value("refreshToken").toString();
        const auto it = state.refreshTokens.find(token);
        if (it == state.refreshTokens.end())
            return Answer::error(401, QStringLiteral("refresh_token_invalid"));
        if (it->used) {
            // A rotated token came back: someone holds a copy. End the whole chain.
            state.revokeFamily(it->family);
            return Answer::error(401, QStringLiteral("refresh_token_reused"));
        }
        it->used = true;
        // Strict rotation: only the newest access token of a chain is good.
        if (state.strictRotation)
            state.revokeAccess(it->family);
        const State::Account *account = state.accountByUserId(it->userId);
        if (!account)
            return Answer::error(401, QStringLiteral("refresh_token_invalid"));
        return Answer::json(200, issueSession(state, *account, it->family));
    });

    server.route("POST", QStringLiteral("/api/v1/auth/logout"), [&state](const Seen &seen) {
        const QString token = seen.json().value("refreshToken").toString();
        const auto it = state.refreshTokens.constFind(token);
        if (it != state.refreshTokens.constEnd())
            state.revokeFamily(it->family);
        return Answer::json(200, QJsonObject{{"ok", true}});
    });

    server.route("GET", QStringLiteral("/api/v1/me"), [&state](const Seen &seen) {
        const auto token = bearer(seen);
        if (!token || !state.accessTokens.contains(*token))
            return Answer::error(401, QStringLiteral("unauthorized"));
        const State::Account *account = state.accountByUserId(state.accessTokens.value(*token));
        if (!account)
            return Answer::error(401, QStringLiteral("unauthorized"));
        return Answer::json(200, QJsonObject{{"user", userJson(*account)}});
    });
}

} // namespace Standin
