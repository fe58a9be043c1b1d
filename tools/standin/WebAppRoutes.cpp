// The web app area: pages, the page's own sign-in and sign-out with the
// "__Host-zephyl_session" cookie, and the cookie road into the service's routes.

#include "WebApp.h"

#include <QHostAddress>

namespace Standin {

extern const char *const webAppScript;
extern const char *const webAppStyle;

namespace {

const QString kCookie = QStringLiteral("__Host-zephyl_session");

Answer page(const QString &title, const QString &bodyAttributes, const QString &body)
{
    const QString html = QStringLiteral(
                             "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                             "<meta name=\"viewport\" content=\"width=device-width\"><title>%1</title>"
                             "<script>document.documentElement.dataset.bridgeAtStart = "
                             "typeof window.__zephylMac + ':' + typeof window.__zephylMacConfig;</script>"
                             "<link rel=\"stylesheet\" href=\"/web/app.css\"></head><body %2>%3"
                             "<script src=\"/web/app.js\"></script></body></html>")
                             .arg(title, bodyAttributes, body);
    return Answer(200, html.toUtf8(), "text/html; charset=utf-8");
}

std::optional<QString> sessionToken(const Seen &seen)
{
    const QList<QByteArray> parts = seen.header("cookie").split(';');
    for (const QByteArray &part : parts) {
        const QByteArray trimmed = part.trimmed();
        const qsizetype eq = trimmed.indexOf('=');
        if (eq > 0 && trimmed.left(eq) == kCookie.toUtf8())
            return QString::fromUtf8(trimmed.mid(eq + 1));
    }
    return std::nullopt;
}

// The other loopback name: a different host, so a different origin.
QString foreignOrigin(const Seen &seen)
{
    QByteArray host = seen.header("host");
    const qsizetype colon = host.lastIndexOf(':');
    const QByteArray port = colon > 0 ? host.mid(colon + 1) : QByteArray("443");
    const bool onLocalhost = host.startsWith("localhost");
    return QStringLiteral("https://%1:%2").arg(onLocalhost ? QStringLiteral("127.0.0.1") : QStringLiteral("localhost"),
                                                QString::fromLatin1(port));
}

const char *kNav = R"(<nav class="nav">
<a href="#overview" data-navfor="overview">Overview</a>
<a href="#planner" data-navfor="planner">Planner</a>
<a href="#assistant" data-navfor="assistant">Assistant</a>
<a href="#studio" data-navfor="studio">Studio</a>
<a href="#profile" data-navfor="profile">Profile</a>
</nav>)";

const char *kWorkspace = R"(<header class="bar"><strong>Zephyl stand-in</strong>
<span id="who">…</span><span id="focus-state" class="pill">Focus</span>
<button id="focus-button" type="button">Focus</button>
<button id="signout" type="button">Sign out</button></header>
%1
<main><section id="view" class="card"><h1 id="view-title">Overview</h1>
<p id="view-text">The week at a glance.</p>
<div data-quick><button type="button" id="new-post">New post</button></div>
<button type="button" data-plan-add id="plan-add">Add to plan</button>
<textarea id="chat" placeholder="Ask the assistant…"></textarea>
<p><a href="/terms" id="terms-link">Terms</a> · <a href="mailto:help@example.com" id="mail-link">Write to us</a>
 · <a href="https://example.com/elsewhere" id="away-link">Another site</a></p>
<p><button type="button" id="connect">Connect Instagram</button></p></section>
<section class="card dev"><h2>Messages</h2>
<button type="button" data-post="session">session</button>
<button type="button" data-post="state">state (dark)</button>
<button type="button" data-post="focus">focus</button>
<button type="button" data-post="scene">scene: assistant</button>
<button type="button" data-post="mood">mood: happy</button>
<button type="button" data-post="publication">publication</button>
<button type="button" data-post="malformed">malformed</button>
<p class="hint">Calm: <span id="calm">no</span> · last pulse: <span id="pulse">none</span></p>
<iframe id="foreign" title="Another site" src="%2/web/foreign"></iframe></section></main>
<div data-sheet-wrap hidden id="sheet-wrap"><div data-sheet class="sheet" id="sheet">
<h2>New post</h2><textarea id="caption" placeholder="Caption"></textarea>
<div class="row"><button type="button" data-outcome="published">Publish</button>
<button type="button" data-outcome="scheduled">Schedule</button>
<button type="button" data-outcome="plan">Save to plan</button>
<button type="button" data-outcome="cancelled">Cancel</button></div></div></div>)";

const char *kSignIn = R"(<main class="card narrow"><h1>Sign in</h1>
<form id="signin"><label>E-mail <input name="email" type="email" autocomplete="username" autofocus></label>
<label>Password <input name="password" type="password" autocomplete="current-password"></label>
<button type="submit">Sign in</button><p id="error" role="alert"></p></form>
<p class="hint">Demo account: kitty@example.com / meow-meow-meow</p></main>)";

const char *kForeign = R"(<p class="hint">Another site, framed inside the workspace. It posts messages too.</p>)";

const char *kConnect = R"(<main class="card narrow"><h1>Connect Instagram</h1>
<p>The stand-in's connection page.</p><button type="button" id="allow">Allow</button>
<button type="button" id="close">Close</button></main>)";

} // namespace

quint16 startSecure(Server &server, quint16 port)
{
    server.sslSetup(certificate(), certificateKey());
    return server.start(port);
}

QString secureOrigin(const Server &server) { return QStringLiteral("https://127.0.0.1:%1").arg(server.port()); }

void addWebAppRoutes(Server &server)
{
    State &state = server.state();

    // The page's fetches carry the cookie, not a bearer token: the service's
    // routes read them as the same session.
    server.addAdapter([&state](Seen &seen) {
        if (seen.has("authorization"))
            return;
        if (const auto token = sessionToken(seen); token && state.accessTokens.contains(*token))
            seen.headers.insert("authorization", "Bearer " + token->toUtf8());
    });

    server.route("GET", QStringLiteral("/web/app.js"),
                 [](const Seen &) { return Answer(200, webAppScript, "text/javascript; charset=utf-8"); });
    server.route("GET", QStringLiteral("/web/app.css"),
                 [](const Seen &) { return Answer(200, webAppStyle, "text/css; charset=utf-8"); });
    server.route("GET", QStringLiteral("/"), [](const Seen &) {
        return page(QStringLiteral("Zephyl"), QStringLiteral("data-page=\"front\""),
                    QStringLiteral("<main class=\"card\"><h1>Zephyl</h1><a href=\"/instagram\">Open</a></main>"));
    });
    server.route("GET", QStringLiteral("/signin"), [](const Seen &) {
        return page(QStringLiteral("Sign in"), QStringLiteral("data-page=\"signin\""), QString::fromUtf8(kSignIn));
    });
    server.route("GET", QStringLiteral("/instagram"), [](const Seen &seen) {
        return page(QStringLiteral("Workspace"), QStringLiteral("data-page=\"workspace\""),
                    QString::fromUtf8(kWorkspace).arg(QString::fromUtf8(kNav), foreignOrigin(seen)));
    });
    for (const QString &path : {QStringLiteral("/terms"), QStringLiteral("/privacy")}) {
        server.route("GET", path, [path](const Seen &) {
            return page(path.mid(1), QStringLiteral("data-page=\"legal\""),
                        QStringLiteral("<main class=\"card\"><h1>%1</h1></main>").arg(path.mid(1)));
        });
    }
    server.route("GET", QStringLiteral("/web/foreign"), [](const Seen &) {
        return page(QStringLiteral("Another site"), QStringLiteral("data-page=\"foreign\""), QString::fromUtf8(kForeign));
    });
    for (const QString &path : {QStringLiteral("/api/instagram/connect"), QStringLiteral("/api/social/connect")}) {
        server.route("GET", path, [](const Seen &) {
            return page(QStringLiteral("Connect Instagram"), QStringLiteral("data-page=\"connect\""),
                        QString::fromUtf8(kConnect));
        });
    }

    server.route("POST", QStringLiteral("/web/session"), [&state](const Seen &seen) {
        const QJsonObject body = seen.json();
        const QString email = body.value("email").toString().trimmed().toLower();
        const auto account = state.accounts.constFind(email);
        if (account == state.accounts.constEnd() || account->password != body.value("password").toString())
            return Answer::error(401, QStringLiteral("invalid_credentials"));
        const QString token = state.newToken(QStringLiteral("web-session"));
        state.accessTokens.insert(token, account->userId);
        Answer answer = Answer::json(200, QJsonObject{{"ok", true}});
        answer.headers.push_back({"Set-Cookie", kCookie.toUtf8() + '=' + token.toUtf8() +
                                                    "; Path=/; Secure; HttpOnly; SameSite=Lax; Max-Age=2592000"});
        return answer;
    });
    server.route("POST", QStringLiteral("/web/signout"), [&state](const Seen &seen) {
        if (const auto token = sessionToken(seen))
            state.accessTokens.remove(*token);
        Answer answer = Answer::json(200, QJsonObject{{"ok", true}});
        answer.headers.push_back({"Set-Cookie", kCookie.toUtf8() + "=; Path=/; Secure; HttpOnly; SameSite=Lax; Max-Age=0"});
        return answer;
    });
}

} // namespace Standin
