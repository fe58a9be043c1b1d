#include "services/HttpCall.h"

#include "base/Clock.h"
#include "services/AsyncSupport.h"
#include "services/PlainReply.h"
#include "services/ServiceErrors.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <cstring>

namespace HttpCall {

namespace {

using namespace std::chrono;

// How much of an answer the stack may hold before it waits for us to take it.
constexpr qint64 kReadChunk = 256 * 1024;

// Failures that mean "no network here" rather than "the server said no". A
// host that cannot be found was never reached. Qt reports a failed connect (no
// route) and a failed write alike as an unknown error, so that one (and its
// kin) counts only while nothing of the request has gone out.
bool provesNothingLeft(QNetworkReply::NetworkError error) { return error == QNetworkReply::HostNotFoundError; }

bool mayMeanNoNetwork(QNetworkReply::NetworkError error)
{
    switch (error) {
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
    case QNetworkReply::UnknownNetworkError:  // a write failed: the connection went while sending
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ContentReSendError:   // the stack wanted to send the request again; refused
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

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    const int port = scheme == QLatin1String("https") ? 443 : 80;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(port) == b.port(port);
}

// The body of a request that must not reach the server twice. When a
// connection drops before the answer, Qt rewinds the body and sends the request
// again by itself, whatever its method; this body refuses to be rewound, so Qt
// ends the request with ContentReSendError instead. A fresh one serves each attempt.
class OnceBody final : public QIODevice {
public:
    OnceBody(QByteArray bytes, QIODevice *inner, qint64 size)
        : m_bytes(std::move(bytes)), m_inner(inner), m_size(std::max<qint64>(0, size))
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    // True once the stack has taken any of the body.
    bool touched() const { return m_pos > 0; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    // The stack only ever rewinds a body to send it again.
    bool seek(qint64) override { return false; }
    bool reset() override { return false; }
    bool atEnd() const override { return m_pos >= m_size; }
    qint64 bytesAvailable() const override { return m_size - m_pos; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 want = std::min(maxSize, m_size - m_pos);
        if (want <= 0)
            return m_pos >= m_size ? -1 : 0;
        qint64 n = 0;
        if (m_inner) {
            // A file that shrank under the upload ends it, rather than leaving
            // the stack waiting for bytes that will never come.
            n = m_inner->read(data, want);
            if (n <= 0) {
                setErrorString(QStringLiteral("the body ended before its declared size"));
                return -1;
            }
        } else {
            std::memcpy(data, m_bytes.constData() + m_pos, size_t(want));
            n = want;
        }
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    QIODevice *m_inner;
    qint64 m_size;
    qint64 m_pos = 0;
};

enum class End { finished, timedOut, cancelled, tooLarge };

QNetworkRequest networkRequest(const Request &request)
{
    QNetworkRequest qreq(request.url);
    for (const auto &[name, value] : request.headers)
        qreq.setRawHeader(name, value);
    // The session keeps no cookies and no cache of its own.
    qreq.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    qreq.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    qreq.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Qt would carry every header, a bearer token included, to wherever a
    // redirect points; redirects are decided below instead.
    qreq.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Qt's reader does not look at the connection while it writes a body, so
    // a refusal sent before an upload is read (a proxy's 413) is lost when the
    // server closes under it; the client's network sends those itself.
    if (request.bodyDevice)
        qreq.setAttribute(Network::ownExchange, true);
    return qreq;
}

} // namespace

bool isRepeatable(const Request &request)
{
    if (request.method == "GET" || request.method == "HEAD")
        return true;
    return std::any_of(request.headers.begin(), request.headers.end(),
                       [](const auto &h) { return h.first.compare("Idempotency-Key", Qt::CaseInsensitive) == 0; });
}

QCoro::Task<Response> perform(QNetworkAccessManager *network, Clock &clock, QObject *context, Request request,
                              Async::Abort *abort)
{
    const double started = clock.uptime();
    const auto deadline = [&] { return request.timeout - duration_cast<milliseconds>(duration<double>(clock.uptime() - started)); };
    const bool repeatable = isRepeatable(request);
    const bool hasBody = request.body || request.bodyDevice;
    int redirects = 0;
    // After the stack ended on an interim answer: asked again over an exchange that reads past them.
    bool plain = false;
    // After a server refused the "100 Continue" expectation (417): sent again without it.
    bool noExpectation = false;
    // An earlier pass of this request reached the server (an interim answer
    // came, the real one was lost behind it): it may have been taken already.
    bool wentBefore = false;
    // Any earlier pass may have put some of the request on its way.
    bool leftBefore = false;

    for (;;) {
        if (abort && abort->cancelled())
            throw ServiceNetworkError(ServiceNetworkError::Code::cancelled);
        const auto remaining = deadline();
        if (remaining <= milliseconds(0))
            throw ServiceNetworkError(ServiceNetworkError::Code::timedOut, 0, leftBefore);

        QNetworkRequest qreq = networkRequest(request);
        if (const auto *own = qobject_cast<const Network *>(network))
            own->applyTrust(qreq);
        if (noExpectation)
            qreq.setAttribute(Network::withoutExpectation, true);
        std::unique_ptr<OnceBody> once;
        QNetworkReply *reply = nullptr;
        if (request.bodyDevice)
            request.bodyDevice->reset();
        if (plain) {
            reply = new PlainReply(qreq, request.method, request.body.value_or(QByteArray()), request.bodyDevice);
        } else if (!repeatable) {
            // Bodiless ones too: Qt re-sends those without asking anybody.
            const qint64 size = request.bodyDevice ? request.bodyDevice->size() : request.body ? request.body->size() : 0;
            once = std::make_unique<OnceBody>(request.body.value_or(QByteArray()), request.bodyDevice, size);
            reply = network->sendCustomRequest(qreq, request.method, once.get());
        } else if (request.bodyDevice) {
            qreq.setHeader(QNetworkRequest::ContentLengthHeader, request.bodyDevice->size());
            reply = network->sendCustomRequest(qreq, request.method, request.bodyDevice);
        } else {
            reply = request.body ? network->sendCustomRequest(qreq, request.method, *request.body)
                                 : network->sendCustomRequest(qreq, request.method);
        }
        std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(reply, [](QNetworkReply *r) {
            r->disconnect();
            r->abort();
            r->deleteLater();
        });
        QPointer<QNetworkReply> watched(reply);
        reply->setReadBufferSize(kReadChunk);

        Async::Trigger done(context);
        auto end = std::make_shared<End>(End::finished);
        auto stop = [watched, end, fire = done.firer()](End why) {
            if (*end == End::finished)
                *end = why;
            fire();
            if (watched && watched->isRunning())
                watched->abort();
        };

        // Whether any of the request may have reached the server.
        auto left = std::make_shared<bool>(false);
        QByteArray answer;
        const qint64 limit = request.answerLimit;
        auto take = [&answer, &stop, limit, watched] {
            if (!watched)
                return;
            while (answer.size() <= limit && watched->bytesAvailable() > 0) {
                // One byte past the limit is enough to know it was passed.
                const QByteArray piece = watched->read(std::min(kReadChunk, limit - answer.size() + 1));
                if (piece.isEmpty())
                    break;
                answer += piece;
            }
            if (answer.size() > limit)
                stop(End::tooLarge);
        };

        QObject::connect(reply, &QNetworkReply::finished, reply, done.firer());
        auto total = clock.after(remaining, [stop] { stop(End::timedOut); });
        std::unique_ptr<Clock::Timer> idle;
        const auto idleLimit = std::min(request.idleTimeout, remaining);
        auto restartIdle = [&idle, &clock, idleLimit, stop] {
            idle = clock.after(idleLimit, [stop] { stop(End::timedOut); });
        };
        restartIdle();
        const qint64 bodySize = request.bodyDevice ? request.bodyDevice->size() : request.body ? request.body->size() : 0;
        const auto out = [&request] {
            if (auto told = std::exchange(request.wentOut, nullptr))
                told();
        };
        QObject::connect(reply, &QNetworkReply::requestSent, reply, [left, out, bodySize] {
            *left = true;
            if (bodySize == 0)
                out();
        });
        QObject::connect(reply, &QNetworkReply::uploadProgress, reply,
                         [&restartIdle, left, out](qint64 sent, qint64 total) {
                             if (sent > 0)
                                 *left = true;
                             if (total > 0 && sent >= total)
                                 out();
                             restartIdle();
                         });
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&restartIdle, left] {
            *left = true; // an answer is coming: the request got there
            restartIdle();
        });
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&restartIdle, &stop, &answer, left, limit, watched] {
            *left = true;
            restartIdle();
            // A declared length past the limit ends the request before its body comes.
            bool known = false;
            const qint64 declared = watched ? watched->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known) : 0;
            if (known && declared > limit)
                stop(End::tooLarge);
            else if (known && declared > answer.capacity())
                answer.reserve(declared + 1); // one piece of memory, never regrown
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
        Async::AbortHook hook(abort, [stop] { stop(End::cancelled); });

        co_await done;
        idle.reset();
        total.reset();
        if (*end == End::finished)
            take();

        const bool mayHaveLeft = *left || (once && once->touched());
        if (*end == End::timedOut)
            throw ServiceNetworkError(ServiceNetworkError::Code::timedOut, 0, leftBefore || mayHaveLeft);
        if (*end == End::cancelled)
            throw ServiceNetworkError(ServiceNetworkError::Code::cancelled);
        if (*end == End::tooLarge)
            throw ServiceNetworkError(ServiceNetworkError::Code::dataLengthExceedsMaximum);

        const auto error = reply->error();
        if (provesNothingLeft(error) || (mayMeanNoNetwork(error) && !mayHaveLeft)) {
            // No network: wait a little and try again, within the request's own time-out.
            const auto wait = deadline();
            if (wait <= milliseconds(0))
                throw ServiceNetworkError(ServiceNetworkError::Code::timedOut, error, leftBefore);
            Async::Trigger pause(context);
            auto wake = clock.after(std::min(connectivityRetry, wait), pause.firer());
            Async::AbortHook pauseHook(abort, pause.firer());
            co_await pause;
            continue;
        }
        leftBefore = leftBefore || mayHaveLeft;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // The server refused the request before reading all of its body and
        // closed under the rest: its status is the answer. The close may cut
        // its page short, and only a whole body is worth reading.
        const bool refusedBody = hasBody && status.isValid() && status.toInt() >= 400;
        bool declaredKnown = false;
        const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&declaredKnown);
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        const bool cutShort = declaredKnown && answer.size() < declared && (encoding.isEmpty() || encoding == "identity");
        if (refusedBody && (isConnectionFailure(error) || error == QNetworkReply::ContentReSendError || cutShort))
            co_return Response{status.toInt(), cutShort || !declaredKnown ? QByteArray() : std::move(answer)};
        // A refusal after a request that changes something went out is the
        // stack's own attempt to send it again on a new connection, once the
        // first closed under it (or ours, after an interim answer): the first
        // may have been taken, so it is a lost answer, not a refusal that
        // proves nothing was made. (A read may be told as a refusal: it changed nothing.)
        const bool reads = request.method == "GET" || request.method == "HEAD";
        if (error == QNetworkReply::ConnectionRefusedError && !reads && (mayHaveLeft || wentBefore))
            throw ServiceNetworkError(ServiceNetworkError::Code::connectionLost, error);
        if (isConnectionFailure(error) || (!status.isValid() && error != QNetworkReply::NoError))
            throw networkError(error);
        if (!status.isValid())
            throw ServiceAPIError::invalidResponse();
        const int code = status.toInt();

        if (code >= 100 && code <= 199) {
            // An interim answer that Qt took for the last one; the real answer
            // behind it is gone. Only a request safe to repeat is asked again.
            // That exchange connects directly: not where a proxy is configured.
            if (repeatable && !plain && reachesDirectly(network, request.url)) {
                plain = true;
                wentBefore = true;
                continue;
            }
            throw ServiceNetworkError(ServiceNetworkError::Code::connectionLost);
        }
        // The stack may end an answer whose connection closed before its
        // declared length as if it were whole; half an answer is a lost
        // connection, not a body to decode. (A compressed body's length is
        // not its length once the stack has unpacked it.)
        if (cutShort && request.method != "HEAD" && code >= 200 && code != 204 && code != 304)
            throw ServiceNetworkError(ServiceNetworkError::Code::connectionLost);
        // The expectation, not the request, was refused; none of the body went.
        if (code == 417 && !noExpectation && reply->attribute(Network::expectedContinue).toBool()) {
            noExpectation = true;
            continue;
        }
        if (code >= 300 && code <= 399) {
            const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"), QUrl::StrictMode);
            const QUrl target = request.url.resolved(location);
            const bool plainRead = !hasBody && (request.method == "GET" || request.method == "HEAD");
            // 307 and 308 promise the same method and body at the new address.
            const bool keepsRequest = (code == 307 || code == 308) &&
                                      (!request.bodyDevice || !request.bodyDevice->isSequential());
            const bool inReach = sameOrigin(target, request.url) ||
                                 ((code == 307 || code == 308) && request.mayLeaveOriginFor &&
                                  request.mayLeaveOriginFor(target));
            if (!location.isEmpty() && target.isValid() && inReach && (plainRead || keepsRequest) &&
                redirects < maximumRedirects) {
                ++redirects;
                request.url = target;
                continue;
            }
        }
        co_return Response{code, std::move(answer)};
    }
}

} // namespace HttpCall
