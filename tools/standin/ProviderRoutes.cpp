// The accounts provider (Supabase Auth): password sign-in, sign-up and the
// reset mail. It answers in its own shapes, not the service's.

#include "StandinServer.h"

#include <QJsonArray>
#include <QUrl>

namespace Standin {

namespace {

bool keyAccepted(const Seen &seen) { return seen.header("apikey") == Server::anonKey.toUtf8(); }

Answer badKey() { return Answer::json(401, QJsonObject{{"message", "Invalid API key"}}); }

QJsonObject providerSession(State &state, const State::Account &account)
{
    const QString token = state.newToken(QStringLiteral("provider-access"));
    state.providerTokens.insert(token, account.email);
    const QJsonObject identity{{"id", account.userId}, {"provider", "email"}};
    return QJsonObject{{"access_token", token},
                       {"token_type", "bearer"},
                       {"expires_in", 3600},
                       {"refresh_token", state.newToken(QStringLiteral("provider-refresh"))},
                       {"user", QJsonObject{{"id", account.userId},
                                            {"email", account.email},
                                            {"identities", QJsonArray{identity}}}}};
}

QString htmlEscaped(const QString &text) { return text.toHtmlEscaped(); }

} // namespace

void addProviderRoutes(Server &server)
{
    State &state = server.state();

    server.route("POST", QStringLiteral("/auth/v1/token"), [&state](const Seen &seen) {
        if (!keyAccepted(seen))
            return badKey();
        if (seen.query.queryItemValue(QStringLiteral("grant_type")) != QLatin1String("password"))
            return Answer::json(400, QJsonObject{{"error", "unsupported_grant_type"}});
        const QJsonObject body = seen.json();
        const QString email = body.value("email").toString();
        const auto it = state.accounts.constFind(email);
        if (it == state.accounts.constEnd() || it->password != body.value("password").toString())
            return Answer::json(400, QJsonObject{{"error", "invalid_grant"},
                                                 {"error_description", "Invalid login credentials"}});
        if (!it->confirmed)
            return Answer::json(400, QJsonObject{{"error", "invalid_grant"},
                                                 {"error_description", "Email not confirmed"}});
        return Answer::json(200, providerSession(state, *it));
    });

    server.route("POST", QStringLiteral("/auth/v1/signup"), [&state](const Seen &seen) {
        if (!keyAccepted(seen))
            return badKey();
        const QJsonObject body = seen.json();
        const QString email = body.value("email").toString();
        const QString password = body.value("password").toString();
        if (!email.contains(QLatin1Char('@')) || password.size() < 6)
            return Answer::json(400, QJsonObject{{"code", 400}, {"msg", "Password should be at least 6 characters"}});
        if (state.accounts.contains(email))
            return Answer::json(422, QJsonObject{{"code", 422}, {"msg", "User already registered"}});
        State::Account account;
        account.userId = state.newToken(QStringLiteral("user"));
        account.email = email;
        account.password = password;
        account.fullName = body.value("data").toObject().value("full_name").toString();
        account.confirmed = state.autoConfirm;
        state.accounts.insert(email, account);
        if (state.autoConfirm)
            return Answer::json(200, providerSession(state, account));
        // Waiting for the confirmation mail: a user without a session.
        return Answer::json(200, QJsonObject{{"id", account.userId},
                                             {"email", email},
                                             {"identities", QJsonArray{QJsonObject{{"id", account.userId}}}},
                                             {"confirmation_sent_at", "2025-01-01T00:00:00Z"}});
    });

    // Signing in with Google: the provider's page lets the user pick an account,
    // then its callback sends the browser to `redirect_to` with the provider's
    // session in the fragment, by an HTTP redirect as the provider does.
    server.route("GET", QStringLiteral("/auth/v1/authorize"), [&state](const Seen &seen) {
        if (seen.query.queryItemValue(QStringLiteral("provider")) != QLatin1String("google"))
            return Answer::json(400, QJsonObject{{"error", "unsupported_provider"}});
        const QString redirect = seen.query.queryItemValue(QStringLiteral("redirect_to"), QUrl::FullyDecoded);
        QString list;
        for (const State::Account &account : state.accounts) {
            QUrlQuery pick;
            pick.addQueryItem(QStringLiteral("account"), QString::fromLatin1(QUrl::toPercentEncoding(account.email)));
            pick.addQueryItem(QStringLiteral("redirect_to"), QString::fromLatin1(QUrl::toPercentEncoding(redirect)));
            list += QStringLiteral("<li><a href=\"/auth/v1/callback?%1\">%2</a></li>")
                        .arg(htmlEscaped(pick.toString(QUrl::FullyEncoded)), htmlEscaped(account.email));
        }
        const QString page = QStringLiteral("<!doctype html><meta charset=\"utf-8\"><title>Sign in with Google</title>"
                                            "<h1>Choose an account</h1><ul id=\"accounts\">%1</ul>"
                                            // The first account takes the keyboard, as a chooser's does.
                                            "<script>document.querySelector('#accounts a')?.focus()</script>")
                                 .arg(list);
        return Answer(200, page.toUtf8(), "text/html; charset=utf-8");
    });

    server.route("GET", QStringLiteral("/auth/v1/callback"), [&state](const Seen &seen) {
        const QString redirect = seen.query.queryItemValue(QStringLiteral("redirect_to"), QUrl::FullyDecoded);
        const auto it = state.accounts.constFind(seen.query.queryItemValue(QStringLiteral("account"), QUrl::FullyDecoded));
        if (it == state.accounts.constEnd() || redirect.isEmpty())
            return Answer::json(400, QJsonObject{{"error", "invalid_request"}});
        const QJsonObject session = providerSession(state, *it);
        QUrlQuery fragment;
        for (const char *key : {"access_token", "token_type", "refresh_token"})
            fragment.addQueryItem(QString::fromLatin1(key),
                                  QString::fromLatin1(QUrl::toPercentEncoding(session.value(QLatin1String(key)).toString())));
        fragment.addQueryItem(QStringLiteral("expires_in"), QString::number(session.value("expires_in").toInt()));
        Answer answer(302, {}, "text/plain");
        answer.headers.append({"Location", (redirect + u'#' + fragment.toString(QUrl::FullyEncoded)).toUtf8()});
        return answer;
    });

    server.route("POST", QStringLiteral("/auth/v1/recover"), [](const Seen &seen) {
        if (!keyAccepted(seen))
            return badKey();
        // The provider never says whether the address has an account.
        return Answer::json(200, QJsonObject{});
    });
}

} // namespace Standin
