#pragma once

// Pieces shared by the benchmarks of the web workspace in this process: waiting
// on the event loop, the resident memory of this process and of the engine's
// processes below it, and a signed-in page session at the stand-in.

#include "StandinServer.h"
#include "support/ProcStatus.h"
#include "web/WebWorkspace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <algorithm>
#include <functional>

namespace webbench {

inline bool spinUntil(const std::function<bool()> &done, int limitMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// VmRSS in kilobytes.
inline qint64 rssKB(qint64 pid) { return std::max<qint64>(benchsupport::status("VmRSS:", pid), 0); }

// Every process descended from this one: the engine's zygote and page processes.
inline qint64 descendantsRssKB()
{
    qint64 total = 0;
    for (qint64 pid : benchsupport::descendants())
        total += rssKB(pid);
    return total;
}

// A signed-in session for `userId` in a web profile, as the page's own sign-in
// leaves it.
inline QNetworkCookie sessionCookie(Standin::Server &server, const QString &userId)
{
    const QString token = server.state().newToken(QStringLiteral("web-session"));
    server.state().accessTokens.insert(token, userId);
    QNetworkCookie cookie("__Host-zephyl_session", token.toUtf8());
    cookie.setPath(QStringLiteral("/"));
    cookie.setSecure(true);
    cookie.setHttpOnly(true);
    cookie.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(30));
    return cookie;
}

inline void signIn(Standin::Server &server, const QUrl &origin, const QString &userId, QWebEngineProfile *profile)
{
    const QNetworkCookie cookie = sessionCookie(server, userId);
    bool seen = false;
    auto connection = QObject::connect(profile->cookieStore(), &QWebEngineCookieStore::cookieAdded,
                                       [&](const QNetworkCookie &c) { seen = seen || c.name() == cookie.name(); });
    profile->cookieStore()->setCookie(cookie, origin);
    spinUntil([&] { return seen; });
    QObject::disconnect(connection);
}

inline void signIn(Standin::Server &server, const QUrl &origin, const QString &userId, WebWorkspace &web)
{
    signIn(server, origin, userId, web.profile());
}

} // namespace webbench
