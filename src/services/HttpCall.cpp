#include "services/HttpCall.h"

#include "base/Clock.h"
#include "services/AsyncSupport.h"
#include "services/ServiceErrors.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace HttpCall {

namespace {

using namespace std::chrono;

// Failures that mean "no network here" rather than "the server said no":
// URLSession-style waiting for connectivity retries these.
bool isConnectivityFailure(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

ServiceNetworkError networkError(QNetworkReply::NetworkError error)
{
    using Code = ServiceNetworkError::Code;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return ServiceNetworkError(Code::cannotConnectToHost, error);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return ServiceNetworkError(Code::connectionLost, error);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return ServiceNetworkError(Code::timedOut, error);
    case QNetworkReply::OperationCanceledError:
        return ServiceNetworkError(Code::cancelled, error);
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::InsecureRedirectError:
        return ServiceNetworkError(Code::secureConnectionFailed, error);
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return ServiceNetworkError(Code::badURL, error);
    default:
        return ServiceNetworkError(Code::other, error);
    }
}

// Failures of the connection or the proxy. Qt also reports HTTP statuses as
// errors (400 as a protocol error, 5xx as server errors); with a status in
// hand those are answers, not failures.
bool isConnectionFailure(QNetworkReply::NetworkError error)
{
    const int e = int(error);
    return e >= 1 && e <= 199;
}

enum class End { finished, timedOut, cancelled };

} // namespace

QCoro::Task<Response> perform(QNetworkAccessManager *network, Clock &clock, QObject *context, Request request,
                              Async::Abort *abort)
{
    const double started = clock.uptime();
    const auto deadline = [&] { return request.timeout - duration_cast<milliseconds>(duration<double>(clock.uptime() - started)); };

    QNetworkRequest qreq(request.url);
    for (const auto &[name, value] : request.headers)
        qreq.setRawHeader(name, value);
    // The session keeps no cookies and no cache of its own.
    qreq.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    qreq.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    qreq.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    qreq.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    for (;;) {
        if (abort && abort->cancelled())
            throw ServiceNetworkError(ServiceNetworkError::Code::cancelled);
        const auto remaining = deadline();
        if (remaining <= milliseconds(0))
            throw ServiceNetworkError(ServiceNetworkError::Code::timedOut);

        QNetworkReply *reply = request.body
            ? network->sendCustomRequest(qreq, request.method, *request.body)
            : network->sendCustomRequest(qreq, request.method);
        std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(reply, [](QNetworkReply *r) {
            r->disconnect();
            r->deleteLater();
        });
        QPointer<QNetworkReply> watched(reply);

        Async::Trigger done(context);
        auto end = std::make_shared<End>(End::finished);
        auto stop = [watched, end, fire = done.firer()](End why) {
            if (*end == End::finished)
                *end = why;
            fire();
            if (watched && watched->isRunning())
                watched->abort();
        };

        QObject::connect(reply, &QNetworkReply::finished, reply, done.firer());
        auto total = clock.after(remaining, [stop] { stop(End::timedOut); });
        std::unique_ptr<Clock::Timer> idle;
        const auto idleLimit = std::min(request.idleTimeout, remaining);
        auto restartIdle = [&idle, &clock, idleLimit, stop] {
            idle = clock.after(idleLimit, [stop] { stop(End::timedOut); });
        };
        restartIdle();
        auto progress = [&restartIdle] { restartIdle(); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, reply, progress);
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply, progress);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, progress);
        Async::AbortHook hook(abort, [stop] { stop(End::cancelled); });

        co_await done;
        idle.reset();
        total.reset();

        if (*end == End::timedOut)
            throw ServiceNetworkError(ServiceNetworkError::Code::timedOut);
        if (*end == End::cancelled)
            throw ServiceNetworkError(ServiceNetworkError::Code::cancelled);

        const auto error = reply->error();
        if (isConnectivityFailure(error)) {
            // No network: wait a little and try again, within the request's own time-out.
            const auto left = deadline();
            if (left <= milliseconds(0))
                throw ServiceNetworkError(ServiceNetworkError::Code::timedOut, error);
            Async::Trigger pause(context);
            auto wake = clock.after(std::min(connectivityRetry, left), pause.firer());
            Async::AbortHook pauseHook(abort, pause.firer());
            co_await pause;
            continue;
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (isConnectionFailure(error) || (!status.isValid() && error != QNetworkReply::NoError))
            throw networkError(error);
        if (!status.isValid())
            throw ServiceAPIError::invalidResponse();
        co_return Response{status.toInt(), reply->readAll()};
    }
}

} // namespace HttpCall
