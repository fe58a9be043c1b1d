// Media uploads: multipart form data to the service, and direct uploads whose
// bytes go to the https host with a one-off ticket, confirmed afterwards.

#include "OperationRoutes.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUuid>

namespace Standin {

namespace {

Answer unauthorized() { return Answer::error(401, QStringLiteral("unauthorized")); }

QString newId(const QString &prefix)
{
    return prefix + QUuid::createUuid().toString(QUuid::Id128).left(16);
}

struct Part {
    QString fileName;
    QString contentType;
    QByteArray bytes;
};

// Reads the one "file" part of a multipart body; none when the framing is wrong.
std::optional<Part> filePart(const QByteArray &contentType, const QByteArray &body)
{
    const qsizetype at = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || at < 0)
        return std::nullopt;
    const QByteArray boundary = contentType.mid(at + 9);
    const QByteArray opening = "--" + boundary + "\r\n";
    const QByteArray closing = "\r\n--" + boundary + "--\r\n";
    if (!body.startsWith(opening) || !body.endsWith(closing))
        return std::nullopt;
    const qsizetype headerEnd = body.indexOf("\r\n\r\n", opening.size());
    if (headerEnd < 0)
        return std::nullopt;
    const QString headers = QString::fromUtf8(body.mid(opening.size(), headerEnd - opening.size()));
    const QStringList lines = headers.split(QStringLiteral("\r\n"));
    Part part;
    bool named = false;
    for (const QString &line : lines) {
        static const QRegularExpression disposition(
            QStringLiteral(R"re(^Content-Disposition: form-data; name="file"; filename="([^"\r\n]*)"$)re"));
        const auto m = disposition.match(line);
        if (m.hasMatch()) {
            part.fileName = m.captured(1);
            named = true;
        } else if (line.startsWith(QLatin1String("Content-Type: "))) {
            part.contentType = line.mid(14);
        } else {
            return std::nullopt; // a header we do not expect: the part was tampered with
        }
    }
    if (!named)
        return std::nullopt;
    const qsizetype start = headerEnd + 4;
    part.bytes = body.mid(start, body.size() - closing.size() - start);
    // A second part inside the bytes would mean a name broke out of its header.
    return part;
}

} // namespace

void addMediaRoutes(Server &server, Operations &ops)
{
    server.route("POST", "/api/instagram/media", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        const auto part = filePart(seen.header("content-type"), seen.body);
        if (!part)
            return Answer::error(400, QStringLiteral("invalid_multipart"));
        Operations::Media m{newId(QStringLiteral("media-")), *user, part->contentType, part->fileName,
                            part->bytes.size(), QCryptographicHash::hash(part->bytes, QCryptographicHash::Sha256),
                            QStringLiteral("multipart")};
        ops.media.insert(m.id, m);
        return Answer::json(200, QJsonObject{{"media", QJsonObject{{"id", m.id}}}});
    });

    server.route("POST", "/api/instagram/media/direct", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        if (ops.directUnavailable)
            return Answer::error(503, QStringLiteral("direct_upload_unavailable"));
        const QJsonObject intent = seen.json();
        if (!intent.value("contentType").isString() || !intent.value("byteSize").isDouble())
            return Answer::error(400, QStringLiteral("invalid_request"));
        const QString ticket = newId(QStringLiteral("ticket-"));
        Operations::Ticket t;
        t.userId = *user;
        // The service normalises the type it will accept the bytes with.
        t.contentType = intent.value("contentType").toString().toLower();
        t.byteSize = qint64(intent.value("byteSize").toDouble());
        ops.tickets.insert(ticket, t);
        QString origin = ops.uploadOrigin.isEmpty() ? ops.secure->origin() : ops.uploadOrigin;
        if (ops.plainHttpUploadAddress)
            origin.replace(0, 5, QStringLiteral("http"));
        return Answer::json(200, QJsonObject{{"upload", QJsonObject{{"url", origin + "/upload/" + ticket},
                                                                    {"contentType", t.contentType},
                                                                    {"ticket", ticket}}}});
    });

    server.route("PUT", "/api/instagram/media/direct", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        if (ops.directUnavailable)
            return Answer::error(503, QStringLiteral("direct_upload_unavailable"));
        const QString ticket = seen.json().value("ticket").toString();
        const auto it = ops.tickets.find(ticket);
        if (it == ops.tickets.end() || it->userId != *user)
            return Answer::error(404, QStringLiteral("upload_ticket_not_found"));
        if (!it->received || it->receivedSize != it->byteSize)
            return Answer::error(409, QStringLiteral("upload_incomplete"));
        Operations::Media m{newId(QStringLiteral("media-")), *user, it->contentType, QString(), it->receivedSize,
                            it->sha256, QStringLiteral("direct")};
        ops.media.insert(m.id, m);
        ops.tickets.erase(it);
        return Answer::json(200, QJsonObject{{"media", QJsonObject{{"id", m.id}}}});
    });

    // The upload address: takes the bytes once, with the ticket's content type.
    ops.secure->route("PUT", "/upload/", [&ops](const Seen &seen) {
        const QString ticket = seen.path.mid(8);
        const auto it = ops.tickets.find(ticket);
        if (it == ops.tickets.end())
            return Answer{404, {}, {}};
        if (ops.transferRedirectStatus && !seen.header("host").startsWith("localhost:")) {
            Answer moved{ops.transferRedirectStatus, {}, {}};
            const QString elsewhere =
                ops.secure->origin().replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost")) + seen.path;
            moved.headers.push_back({"Location", elsewhere.toUtf8()});
            return moved;
        }
        if (ops.transferStatus < 200 || ops.transferStatus > 299)
            return Answer{ops.transferStatus, {}, {}};
        if (seen.header("content-type") != it->contentType.toUtf8() || seen.has("authorization"))
            return Answer{400, {}, {}};
        it->received = true;
        it->receivedSize = seen.body.size();
        it->sha256 = QCryptographicHash::hash(seen.body, QCryptographicHash::Sha256);
        return Answer{201, {}, {}};
    });
}

} // namespace Standin
