// Media upload: multipart form data for small files, a direct upload to an
// address the service prepares for large ones. The bytes stream from their
// source, so a large video is never held in memory whole.

#include "services/ZephylAPI_p.h"

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kTransferTimeout = 600s;

struct MediaIdResponse {
    QString id;
    static MediaIdResponse fromJson(const QJsonValue &value)
    {
        const QJsonObject media = Json::objectAt(Json::object(value), QLatin1String("media"));
        return {Json::at(QLatin1String("media"), [&] { return Json::string(media, QLatin1String("id")); })};
    }
};

struct DirectTarget {
    QString url;
    QString contentType;
    QString ticket;
    static DirectTarget fromJson(const QJsonValue &value)
    {
        const QJsonObject upload = Json::objectAt(Json::object(value), QLatin1String("upload"));
        return Json::at(QLatin1String("upload"), [&] {
            return DirectTarget{Json::string(upload, QLatin1String("url")),
                                Json::string(upload, QLatin1String("contentType")),
                                Json::string(upload, QLatin1String("ticket"))};
        });
    }
};

bool isUnavailable(const ServiceAPIError &error)
{
    return error.kind() == ServiceAPIError::Kind::rejected &&
           error.code() == QLatin1String(MediaUpload::directUnavailableCode);
}

QJsonObject intentBody(const QString &contentType, qint64 size)
{
    return QJsonObject{{QStringLiteral("contentType"), contentType}, {QStringLiteral("byteSize"), QJsonValue(size)}};
}

QJsonObject confirmationBody(const QString &ticket) { return QJsonObject{{QStringLiteral("ticket"), ticket}}; }

} // namespace

QCoro::Task<QString> ZephylAPI::uploadInstagramMedia(QByteArray data, QString contentType, QString fileName)
{
    return uploadInstagramMedia(MediaSource::fromData(std::move(data)), std::move(contentType), std::move(fileName));
}

QCoro::Task<QString> ZephylAPI::uploadInstagramMedia(MediaSource source, QString contentType, QString fileName)
{
    const qint64 size = source.size();
    if (size < 0)
        throw NetworkError(NetworkError::Code::other);
    // Uploads renew the session whether or not the page carries the other calls.
    const QString path = QString::fromLatin1(MediaUpload::multipartPath);
    std::function<QCoro::Task<QString>(Sent &)> multipart = [this, path, source, contentType, fileName](Sent &sent) {
        return upload(path, source, contentType, fileName, sent);
    };
    if (!MediaUpload::goesDirect(size))
        co_return co_await withOneRenewal<QString>(std::move(multipart), true);

    Sent first;
    bool refused = false;
    try {
        co_return co_await uploadInstagramMediaDirectly(source, contentType, first);
    } catch (const APIError &error) {
        if (error.kind() == APIError::Kind::unauthorized)
            refused = true;
        else if (!isUnavailable(error))
            throw;
    }
    if (!refused)
        co_return co_await withOneRenewal<QString>(std::move(multipart), true);
    // One renewal, then the whole direct upload once more; its outcome is final.
    co_await renewAfterRefusal(first);
    Sent again;
    co_return co_await uploadInstagramMediaDirectly(source, contentType, again);
}

QCoro::Task<QString> ZephylAPI::uploadInstagramMediaDirectly(MediaSource source, QString contentType, Sent &sent)
{
    const QString path = QString::fromLatin1(MediaUpload::directPath);
    const qint64 size = source.size();
    const RequestSpec intent(path, "POST", intentBody(contentType, size), true);
    const DirectTarget target = co_await send<DirectTarget>(intent, nullptr, &sent);
    if (!MediaUpload::isUsableUploadAddress(target.url) || !MediaUpload::isUsableContentType(target.contentType))
        throw APIError::invalidResponse();

    std::unique_ptr<QIODevice> device = source.open();
    if (!device)
        throw NetworkError(NetworkError::Code::other);
    HttpCall::Request put;
    put.url = QUrl(target.url, QUrl::StrictMode);
    put.method = "PUT";
    // The service's content type, the only header of the transfer: the address
    // itself authorises it, so no bearer token travels to another host.
    put.headers.append(qMakePair(QByteArray("Content-Type"), target.contentType.toUtf8()));
    put.bodyDevice = device.get();
    // Storage may send the bytes on to another endpoint (307, 308); nothing of
    // ours travels, so any address fit to upload to will do.
    put.mayLeaveOriginFor = [](const QUrl &url) {
        return MediaUpload::isUsableUploadAddress(url.toString(QUrl::FullyEncoded));
    };
    put.timeout = kTransferTimeout;
    put.idleTimeout = kTransferTimeout;
    // Its answer is never read beyond the status.
    put.answerLimit = HttpCall::AnswerLimit::session;
    // Whatever came back that is not a 2xx HTTP answer is a failed transfer; the body is not read.
    const APIError failed = APIError::rejected(QString::fromLatin1(MediaUpload::transferFailedCode));
    HttpCall::Response answer;
    try {
        answer = co_await HttpCall::perform(m_network, clock(), this, std::move(put));
    } catch (const APIError &) { // not an HTTP answer
        throw failed;
    }
    if (answer.status == MediaUpload::tooLargeStatus)
        throw APIError::rejected(QString::fromLatin1(MediaUpload::tooLargeCode));
    if (answer.status < 200 || answer.status > 299)
        throw failed;

    const RequestSpec confirmation(path, "PUT", confirmationBody(target.ticket), true);
    const MediaIdResponse confirmed = co_await send<MediaIdResponse>(confirmation, nullptr, &sent);
    co_return confirmed.id;
}

QCoro::Task<QString> ZephylAPI::upload(QString path, MediaSource source, QString contentType, QString fileName,
                                       Sent &sent)
{
    const QByteArray authorization = bearer(&sent);
    std::unique_ptr<QIODevice> file = source.open();
    if (!file)
        throw NetworkError(NetworkError::Code::other);
    const QByteArray boundary = MediaUpload::makeBoundary();
    MediaUpload::MultipartDevice body(MediaUpload::partHead(boundary, fileName, contentType), std::move(file),
                                      source.size(), MediaUpload::partTail(boundary));
    HttpCall::Request request;
    request.url = serviceURL(path);
    request.method = "POST";
    request.headers.append(qMakePair(QByteArray("Content-Type"), MediaUpload::contentTypeHeader(boundary)));
    request.headers.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    request.headers.append(qMakePair(QByteArray("Authorization"), authorization));
    request.bodyDevice = &body;
    request.timeout = requestTimeout;
    request.idleTimeout = sessionIdleTimeout;
    HttpCall::Response answer = co_await HttpCall::perform(m_network, clock(), this, std::move(request));
    QString id;
    try {
        id = checkAnswer<MediaIdResponse>(answer.status, std::move(answer.body)).id;
    } catch (const APIError &error) {
        // A size limit in front of the service answers with a page, not a code.
        if (error.kind() == APIError::Kind::serverRefused && error.status() == MediaUpload::tooLargeStatus)
            throw APIError::rejected(QString::fromLatin1(MediaUpload::tooLargeCode));
        throw;
    }
    co_return id;
}
