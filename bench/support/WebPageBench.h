#pragma once

// Pieces shared by the benchmarks of the web workspace in this process: waiting
// on the event loop, the resident memory of this process and of the engine's
// processes below it, and a signed-in page session at the stand-in.

#include "StandinServer.h"
#include "web/WebWorkspace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <unistd.h>

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

// VmRSS in kilobytes, and the parent id, from /proc.
inline qint64 rssKB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

inline qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

// Every process descended from this one: the engine's zygote and page processes.
inline qint64 descendantsRssKB()
{
    QList<qint64> family{qint64(getpid())};
    qint64 total = 0;
    bool grew = true;
    QList<qint64> all;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok)
            all << pid;
    }
    while (grew) {
        grew = false;
        for (qint64 pid : all) {
            if (!family.contains(pid) && family.contains(parentOf(pid))) {
                family << pid;
                total += rssKB(pid);
                grew = true;
            }
        }
    }
    return total;
}

// A signed-in session for `userId` in the web workspace's profile, as the
// page's own sign-in leaves it.
inline void signIn(Standin::Server &server, const QUrl &origin, const QString &userId, WebWorkspace &web)
{
    const QString token = server.state().newToken(QStringLiteral("web-session"));
    server.state().accessTokens.insert(token, userId);
    QNetworkCookie cookie("__Host-zephyl_session", token.toUtf8());
    cookie.setPath(QStringLiteral("/"));
    cookie.setSecure(true);
    cookie.setHttpOnly(true);
    cookie.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(30));
    bool seen = false;
    auto connection = QObject::connect(web.profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded,
                                       [&](const QNetworkCookie &c) { seen = seen || c.name() == cookie.name(); });
    web.profile()->cookieStore()->setCookie(cookie, origin);
    spinUntil([&] { return seen; });
    QObject::disconnect(connection);
}

} // namespace webbench
