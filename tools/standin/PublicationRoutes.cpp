// Publications kept under their "Idempotency-Key" (one key never makes a second
// publication, whatever the retry), statuses that move from "processing" to
// "published" over time, and the plan's drafts.

#include "OperationRoutes.h"

#include <QDateTime>

namespace Standin {

namespace {

Answer unauthorized() { return Answer::error(401, QStringLiteral("unauthorized")); }

const QStringList kFormats{QStringLiteral("reel"), QStringLiteral("story"), QStringLiteral("feed"),
                           QStringLiteral("carousel")};

} // namespace

Operations::Publication *Operations::publication(const QString &userId, const QString &idOrKey)
{
    for (auto &p : publications) {
        if (p.userId == userId && (p.json.value("id").toString() == idOrKey || p.key == idOrKey))
            return &p;
    }
    return nullptr;
}

QJsonObject Operations::publicationJson(Publication &p)
{
    if (!p.final && p.json.value("status").toString() == QLatin1String("processing") && !stayProcessing &&
        now() - p.createdAt >= processingMs) {
        p.json.insert("status", finalStatus);
        if (finalStatus == QLatin1String("published")) {
            p.json.insert("publishedAt", QJsonValue(now()));
            p.json.insert("platformUrl",
                          QStringLiteral("https://www.instagram.com/p/%1/").arg(p.json.value("id").toString()));
        } else if (finalError) {
            p.json.insert("error", *finalError);
        }
        p.final = true;
    }
    return p.json;
}

void addPublicationRoutes(Server &server, Operations &ops)
{
    server.route("POST", "/api/instagram/publications", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        const QString key = QString::fromUtf8(seen.header("idempotency-key"));
        if (key.isEmpty())
            return Answer::error(400, QStringLiteral("idempotency_key_required"));
        // A retry of a creation that was stored gets that same publication back
        // (matched by its key alone: a key that happens to equal another
        // publication's id is still a new creation).
        for (auto &existing : ops.publications) {
            if (existing.userId == *user && existing.key == key)
                return Answer::json(200, QJsonObject{{"publication", ops.publicationJson(existing)}});
        }
        if (ops.creationFailure) {
            const auto [status, code] = *ops.creationFailure;
            return code.isEmpty() ? Answer{status, "<html>refused</html>", "text/html"} : Answer::error(status, code);
        }
        const QJsonObject body = seen.json();
        if (body.value("confirm") != QJsonValue(true))
            return Answer::error(400, QStringLiteral("confirmation_required"));
        if (!kFormats.contains(body.value("format").toString()))
            return Answer::error(400, QStringLiteral("invalid_format"));
        for (const QJsonValue &id : body.value("mediaIds").toArray()) {
            if (!ops.media.contains(id.toString()))
                return Answer::error(422, QStringLiteral("media_not_found"));
        }
        const QDateTime scheduled = QDateTime::fromString(body.value("scheduledAt").toString(), Qt::ISODate);
        if (!scheduled.isValid())
            return Answer::error(400, QStringLiteral("invalid_schedule"));
        const qint64 now = ops.now();
        const bool isDraft = body.value("isDraft").toBool();
        const bool later = scheduled.toMSecsSinceEpoch() > now + 60'000;

        Operations::Publication p;
        p.userId = *user;
        p.key = key;
        p.createdAt = now;
        const bool draftRefused = isDraft && ops.finalStatus != QLatin1String("published");
        p.json = QJsonObject{{"id", QStringLiteral("pub-%1").arg(++ops.publicationsMade)},
                             {"status", draftRefused ? ops.finalStatus
                                                     : isDraft ? "draft" : (later ? "scheduled" : "processing")},
                             {"caption", body.value("caption").toString()},
                             {"format", body.value("format").toString()},
                             {"isDraft", isDraft}};
        if (draftRefused && ops.finalError)
            p.json.insert("error", *ops.finalError);
        if (later)
            p.json.insert("scheduledAt", QJsonValue(scheduled.toMSecsSinceEpoch()));
        p.final = isDraft || later;
        ops.publications.push_back(p);

        Answer answer = Answer::json(200, QJsonObject{{"publication", p.json}});
        if (ops.afterStore != Answer::Delivery::normal && ops.afterStoreTimes != 0) {
            answer.delivery = ops.afterStore;
            if (ops.afterStoreTimes > 0 && --ops.afterStoreTimes == 0)
                ops.afterStore = Answer::Delivery::normal;
        }
        return answer;
    });

    server.route("GET", "/api/instagram/publications", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        QJsonArray list;
        for (auto &p : ops.publications) {
            if (p.userId == *user)
                list.append(ops.publicationJson(p));
        }
        return Answer::json(200, QJsonObject{{"publications", list}});
    });

    // One publication, by its id or by the idempotency key it was created with.
    server.routePrefix("GET", "/api/instagram/publications/", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        const QString id = seen.path.mid(QStringLiteral("/api/instagram/publications/").size());
        auto *p = ops.publication(*user, id);
        if (!p)
            return Answer::error(404, QStringLiteral("publication_not_found"));
        return Answer::json(200, QJsonObject{{"publication", ops.publicationJson(*p)}});
    });

    server.route("GET", "/api/plan/drafts", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        return Answer::json(200, QJsonObject{{"drafts", ops.drafts.value(*user)}});
    });

    server.route("PUT", "/api/plan/drafts", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        const QJsonValue drafts = seen.json().value("drafts");
        if (!drafts.isArray())
            return Answer::error(400, QStringLiteral("invalid_request"));
        for (const QJsonValue &d : drafts.toArray()) {
            if (!d.toObject().value("id").isDouble())
                return Answer::error(400, QStringLiteral("invalid_draft"));
        }
        ops.drafts.insert(*user, drafts.toArray());
        return Answer::json(200, QJsonObject{{"saved", drafts.toArray().size()}});
    });
}

} // namespace Standin
