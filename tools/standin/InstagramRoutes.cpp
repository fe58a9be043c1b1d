// The Instagram account as the service holds it: connection through an https
// authorization page, the session, and a paged feed.

#include "OperationRoutes.h"

#include <QUuid>

namespace Standin {

namespace {

Answer unauthorized() { return Answer::error(401, QStringLiteral("unauthorized")); }

QJsonObject profileJson(const QString &userId)
{
    return QJsonObject{{"userId", QStringLiteral("ig-") + userId},
                       {"username", "kitty.studio"},
                       {"name", "Kitty Studio"},
                       {"accountType", "BUSINESS"},
                       {"biography", "Cats, coffee and calm mornings."}};
}

QJsonObject feedItem(int index)
{
    const QString id = QStringLiteral("media-%1").arg(index, 3, 10, QLatin1Char('0'));
    const QString kind = index % 5 == 0 ? "reel" : (index % 7 == 0 ? "carousel" : "feed");
    return QJsonObject{
        {"id", id},
        {"caption", QStringLiteral("Post number %1 #cats").arg(index)},
        {"postedAt", QStringLiteral("2025-05-%1T09:00:00Z").arg(1 + index % 28, 2, 10, QLatin1Char('0'))},
        {"platformUrl", QStringLiteral("https://www.instagram.com/p/%1/").arg(id)},
        {"previewUrl", QStringLiteral("https://cdn.standin.test/%1.jpg").arg(id)},
        {"media", QJsonArray{QJsonObject{{"url", QStringLiteral("https://cdn.standin.test/%1.jpg").arg(id)},
                                          {"kind", "image"}}}},
        {"mediaCount", kind == QLatin1String("carousel") ? 3 : 1},
        {"kind", kind},
    };
}

} // namespace

void addInstagramRoutes(Server &server, Operations &ops)
{
    server.route("POST", "/api/v1/instagram/connect", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        const QString grant = QUuid::createUuid().toString(QUuid::Id128);
        ops.connectGrants.insert(grant, *user);
        return Answer::json(200, QJsonObject{{"authorizationURL",
                                              ops.secure->origin() + QStringLiteral("/instagram/authorize?grant=") + grant}});
    });

    server.route("POST", "/api/v1/instagram/connect/outcome", [&ops](const Seen &seen) {
        if (!ops.userFor(seen))
            return unauthorized();
        if (seen.json().value("outcome").toString() == QLatin1String("abandoned"))
            ++ops.abandonedReports;
        return Answer::json(200, QJsonObject{{"ok", true}});
    });

    server.route("GET", "/api/v1/instagram/session", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        if (!ops.connected.contains(*user))
            return Answer::json(200, QJsonObject{{"connected", false}});
        return Answer::json(200, QJsonObject{{"connected", true}, {"profile", profileJson(*user)}});
    });

    server.route("DELETE", "/api/v1/instagram/session", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        if (seen.json().value("confirm") != QJsonValue(true))
            return Answer::error(400, QStringLiteral("confirmation_required"));
        ops.connected.remove(*user);
        return Answer::json(200, QJsonObject{{"ok", true}});
    });

    // Pages of `feedPageSize`; the cursor is the next offset, opaque to the client.
    server.route("GET", "/api/social/feed", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        if (!ops.connected.contains(*user))
            return Answer::json(404, QJsonObject{{"items", QJsonArray()}, {"status", "disconnected"}, {"hasMore", false}});
        int offset = 0;
        if (seen.query.hasQueryItem("cursor")) {
            bool ok = false;
            const QString cursor = seen.query.queryItemValue("cursor", QUrl::FullyDecoded);
            offset = cursor.startsWith(QLatin1String("after:")) ? cursor.mid(6).toInt(&ok) : -1;
            if (!ok || offset < 0 || offset > ops.feedSize)
                return Answer::error(400, QStringLiteral("invalid_cursor"));
        }
        QJsonArray items;
        const int end = std::min(ops.feedSize, offset + ops.feedPageSize);
        for (int i = offset; i < end; ++i)
            items.append(feedItem(i + 1));
        QJsonObject page{{"items", items}, {"status", "synced"}, {"provider", "instagram"}, {"hasMore", end < ops.feedSize}};
        if (end < ops.feedSize)
            page.insert("cursor", QStringLiteral("after:%1").arg(end));
        return Answer::json(200, page);
    });

    // The authorization page: connects the account that asked for it and sends
    // the browser back to the application.
    ops.secure->route("GET", "/instagram/authorize", [&ops](const Seen &seen) {
        {
            const QString grant = seen.query.queryItemValue("grant");
            const QString user = ops.connectGrants.take(grant);
            if (user.isEmpty())
                return Answer::error(400, QStringLiteral("invalid_grant"));
            if (ops.connectStatus == QLatin1String("connected"))
                ops.connected.insert(user);
            Answer redirect{302, {}, {}};
            redirect.headers.append({"Location", "sorvane://instagram-connected?status=" + ops.connectStatus.toUtf8()});
            return redirect;
        }
    });
}

} // namespace Standin
