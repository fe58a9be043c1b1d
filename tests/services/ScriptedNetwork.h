#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <functional>
#include <optional>

// A QNetworkAccessManager that answers from a script instead of the network,
// for the client's unit tests: any status (even ones HTTP cannot carry), any
// body, connection failures, or no answer at all.
namespace zktest {

struct Sent {
    QByteArray method;
    QUrl url;
    QMap<QByteArray, QByteArray> headers; // as set by the client
    QByteArray body;
    bool hasBody = false;

    bool rewindable = false;             // the body could be rewound for a second sending

    QJsonObject json() const;
    QByteArray header(const QByteArray &name) const { return headers.value(name); }
};

struct Scripted {
    int status = 200;
    QByteArray body;
    std::optional<QNetworkReply::NetworkError> error; // a failure instead of an answer
    bool hang = false;                                 // never answers (until aborted)
    bool notHttp = false;                              // finishes without an HTTP status
    bool sentFirst = false;                            // the request went out before the failure
    bool answeredFirst = false;                        // the status, headers and body came before the failure
    QList<QPair<QByteArray, QByteArray>> headers;      // answer header fields

    static Scripted json(int status, const QByteArray &body)
    {
        Scripted s;
        s.status = status;
        s.body = body;
        return s;
    }
    static Scripted failure(QNetworkReply::NetworkError e)
    {
        Scripted s;
        s.error = e;
        return s;
    }
    static Scripted silence()
    {
        Scripted s;
        s.hang = true;
        return s;
    }
};

class ScriptedNetwork final : public QNetworkAccessManager {
public:
    using Script = std::function<Scripted(const Sent &)>;

    explicit ScriptedNetwork(Script script = {}) : m_script(std::move(script)) {}
    void setScript(Script script) { m_script = std::move(script); }

    QList<Sent> sent;
    QList<Sent> sentTo(const QString &path) const;
    int openReplies() const;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    Script m_script;
};

} // namespace zktest
