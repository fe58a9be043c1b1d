#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QList>
#include <QPair>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class Clock;
class QNetworkAccessManager;
class QIODevice;
class QObject;
namespace Async {
class Abort;
}

// One direct HTTP exchange over the client's QNetworkAccessManager, with the
// client's session rules: no cookies, no cache, time-outs on the injected
// Clock, waiting for connectivity, and the rules that keep a request from
// doing more than its caller asked (see perform()).
namespace HttpCall {

// The largest answer body each kind of call accepts. Memory never holds more
// than this (plus one read chunk) for one answer.
namespace AnswerLimit {
inline constexpr qint64 session = 64 * 1024;           // tokens, the account, the provider's answers
inline constexpr qint64 record = 4 * 1024 * 1024;      // one thing: a publication, a media id, a reply
inline constexpr qint64 collection = 96 * 1024 * 1024; // the plan, a feed page, lists, the thread store
} // namespace AnswerLimit

struct Request {
    QUrl url;
    QByteArray method = "GET";
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    // Streamed as the body instead of `body` (large uploads): an open, seekable
    // device with a known size, rewound for each attempt; owned by the caller.
    QIODevice *bodyDevice = nullptr;
    // Bounds the whole request, waits for connectivity included.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    // Bounds each attempt's silence: no bytes moving for this long ends it.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(30);
    // An answer body longer than this ends the request (dataLengthExceedsMaximum).
    qint64 answerLimit = AnswerLimit::record;
    // A request that carries nothing of ours (a transfer to an address that
    // authorises itself) may follow a 307 or 308 to another origin this
    // accepts; unset, it stays on its own origin.
    std::function<bool(const QUrl &)> mayLeaveOriginFor;
    // Told once, when the whole request has been handed to the network (the
    // last byte of its body written): a caller can leave what must not hold
    // the request up until then.
    std::function<void()> wentOut;
};

struct Response {
    int status = 0;
    QByteArray body;
};

// How long a request that finds no network waits before it tries again.
inline constexpr std::chrono::milliseconds connectivityRetry{1000};
// Redirects followed before the redirect itself is the answer.
inline constexpr int maximumRedirects = 5;

// True for a request the network stack may send twice without asking: one that
// changes nothing (GET, HEAD) or that carries an "Idempotency-Key" the server
// deduplicates by.
bool isRepeatable(const Request &request);

// Performs the request. Throws ServiceNetworkError for failures of the exchange
// (timedOut, cancelled, cannotConnectToHost, connectionLost, dataLengthExceedsMaximum,
// ...) and ServiceAPIError::invalidResponse when what came back is not an HTTP
// answer. An answer of any final status is a result. `context` must outlive
// nothing: if it is destroyed while the request is in flight, the awaiting
// coroutine is never resumed.
//
// What a request never does:
//   - leave its origin: a redirect is followed only to the same scheme, host
//     and port (or, for a request that carries nothing of ours, where
//     mayLeaveOriginFor accepts); any other redirect is the answer (a 3xx
//     status), so neither a token nor a body reaches another host;
//   - change its method or drop its body: a request with a body, or other than
//     GET and HEAD, follows only a 307 or 308, with the same method and body,
//     and only when the body can be read again from its start;
//   - go out twice unless it is repeatable: a request that dropped after it was
//     sent ends with connectionLost, and the stack's own re-send of a dropped
//     connection is refused for it;
//   - wait for connectivity after it left: only a failure that proves nothing was
//     sent (no such host, no route) is tried again, every second, until the
//     request's own time-out passes;
//   - hold more than its answerLimit: the answer is read as it arrives and the
//     request is aborted the moment it passes the limit;
//   - take half an answer for a whole one: a body shorter than its declared
//     length ends with connectionLost;
//   - lose a refusal: a server that answers a request with a body with a 4xx
//     or 5xx before reading all of it, and closes under the rest (a proxy's
//     413), has answered; that status is the result (with no body when the
//     close cut it short). Over the client's network (Network) a streamed
//     body goes, where no proxy applies, over its own exchange (PlainReply;
//     through a configured proxy Qt's stack carries it), which reads while it
//     sends, stops sending once refused, and over TLS sends the body only
//     after "100 Continue" (or a second without an answer); a close with no
//     status line is still connectionLost;
//   - take an interim (1xx) answer as final: Qt's HTTP/1 reader ends on one and
//     drops the real answer behind it, so a repeatable request is asked again
//     over an exchange of the client's own that reads past interim answers
//     (PlainReply) where no proxy applies, and any other ends with connectionLost;
//   - write a header line that a CR, LF or NUL in a name or value would split
//     (PlainReply fails the request with nothing sent).
QCoro::Task<Response> perform(QNetworkAccessManager *network, Clock &clock, QObject *context, Request request,
                              Async::Abort *abort = nullptr);

} // namespace HttpCall
