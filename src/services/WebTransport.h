#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QMap>
#include <QString>

#include <optional>

// A road for the service client's authenticated calls that rides another
// session than the bearer token: the embedded web page's fetch, which carries
// the page's own cookie. The client maps the status and decodes the body
// exactly as it does for its own HTTP answers.
class WebTransport {
public:
    struct Response {
        int status = 0;
        QByteArray body;
    };

    virtual ~WebTransport() = default;

    // Sends one request for `path` (relative to the service's origin, possibly
    // with a query) and returns the HTTP status and body bytes, whatever the
    // status. A failure of the transport itself is thrown with its own error
    // type (the page road's are in WebTransportError.h) and reaches the
    // client's callers unchanged. Called on the main thread.
    virtual QCoro::Task<Response> perform(QString path, QString method, std::optional<QByteArray> body,
                                          QMap<QString, QString> headers) = 0;
};
