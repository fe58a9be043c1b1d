#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>

#include <optional>

class QTcpSocket;

namespace HttpCall {

// One HTTP/1.1 exchange over a connection of its own (closed after it), read
// by the client itself: interim (1xx) answers are passed over to the final one.
// Qt's own HTTP/1 reader ends a request on an interim answer other than 100 and
// drops the final answer behind it; the request core asks again through this
// when that happened, and the client's network sends streamed bodies through
// it: it reads the answer while the body goes out and stops sending once the
// server refused. Follows no redirect, sends nothing twice, and reads the
// socket only as fast as the answer is taken.
class PlainReply final : public QNetworkReply {
    Q_OBJECT
public:
    // `body` (bytes) or `device` (open, positioned at its start, owned by the caller) is the request body.
    PlainReply(const QNetworkRequest &request, const QByteArray &method, const QByteArray &body, QIODevice *device,
               QObject *parent = nullptr);
    ~PlainReply() override;

    void abort() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    enum class Stage { status, headers, length, chunkSize, chunkData, chunkEnd, trailers, untilClose, done };

    void send();
    void feedBody();
    void readSocket();
    void closed();
    bool parse();
    bool parseStatus(const QByteArray &line);
    void startBody();
    void fail(NetworkError error);
    void finish();

    QPointer<QTcpSocket> m_socket;
    QByteArray m_method;
    QByteArray m_body;
    QIODevice *m_device = nullptr;
    qint64 m_bodySize = 0;
    qint64 m_bodySent = 0;
    bool m_headSent = false; // the handshake writes too; the body follows the head
    bool m_awaitingContinue = false; // the body waits for "100 Continue" (or a while)
    bool m_answered = false;         // a final answer came before the go-ahead

    QByteArray m_in;     // read from the socket, not yet parsed
    QByteArray m_answer; // the answer's body, not yet taken
    Stage m_stage = Stage::status;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    qint64 m_left = 0;
    qint64 m_received = 0;
};

// True when `network` reaches `url` without a proxy: neither its own proxy or
// proxy factory nor the application's or the system's settings name one. A
// PlainReply connects directly, so it serves only such requests; the others
// stay on Qt's stack, which speaks to the proxy the user configured.
bool reachesDirectly(const QNetworkAccessManager *network, const QUrl &url);

// The client's network: Qt's, except that a request marked `ownExchange`
// (one that streams an upload) goes over a PlainReply when no proxy applies.
class Network final : public QNetworkAccessManager {
    Q_OBJECT
public:
    using QNetworkAccessManager::QNetworkAccessManager;
    static constexpr QNetworkRequest::Attribute ownExchange = QNetworkRequest::User;
    // On a request: send the body without waiting for "100 Continue".
    static constexpr QNetworkRequest::Attribute withoutExpectation = QNetworkRequest::Attribute(QNetworkRequest::User + 1);
    // On a reply: the request asked for "100 Continue" and its body had not gone when the answer came.
    static constexpr QNetworkRequest::Attribute expectedContinue = QNetworkRequest::Attribute(QNetworkRequest::User + 2);

    // A certificate trusted besides the system's, and only for https requests
    // to this machine (a local stand-in service). None by default.
    void trustOnLoopback(std::optional<QSslCertificate> certificate) { m_loopbackCertificate = std::move(certificate); }
    // Adds that trust to a request bound for a loopback https address.
    void applyTrust(QNetworkRequest &request) const;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    std::optional<QSslCertificate> m_loopbackCertificate;
};

} // namespace HttpCall
