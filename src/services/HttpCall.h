#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QList>
#include <QPair>
#include <QUrl>

#include <chrono>
#include <optional>

class Clock;
class QNetworkAccessManager;
class QObject;
namespace Async {
class Abort;
}

// One direct HTTP exchange over the client's QNetworkAccessManager, with the
// client's session rules: no cookies, no cache, time-outs on the injected
// Clock, and waiting for connectivity.
namespace HttpCall {

struct Request {
    QUrl url;
    QByteArray method = "GET";
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    // Bounds the whole request, waits for connectivity included.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    // Bounds each attempt's silence: no bytes moving for this long ends it.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(30);
};

struct Response {
    int status = 0;
    QByteArray body;
};

// How long a request that finds no network waits before it tries again.
inline constexpr std::chrono::milliseconds connectivityRetry{1000};

// Performs the request. Throws ServiceNetworkError for failures of the exchange
// (timedOut, cancelled, cannotConnectToHost, ...) and ServiceAPIError::invalidResponse
// when what came back is not an HTTP answer. An answer of any status is a result.
// A request that finds no network (unresolvable host, no route) is tried again
// every second until its own time-out passes. `context` must outlive nothing: if
// it is destroyed while the request is in flight, the awaiting coroutine is
// never resumed.
QCoro::Task<Response> perform(QNetworkAccessManager *network, Clock &clock, QObject *context, Request request,
                              Async::Abort *abort = nullptr);

} // namespace HttpCall
