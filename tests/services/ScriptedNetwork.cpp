#include "ScriptedNetwork.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace zktest {

namespace {

class CannedReply final : public QNetworkReply {
public:
    CannedReply(const QNetworkRequest &request, const QByteArray &method, Scripted answer, QObject *parent)
        : QNetworkReply(parent), m_answer(std::move(answer))
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(QNetworkAccessManager::CustomOperation);
        setAttribute(QNetworkRequest::CustomVerbAttribute, method);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        if (!m_answer.hang)
            QTimer::singleShot(0, this, [this] { deliver(); });
    }

    void abort() override
    {
        if (isFinished())
            return;
        setError(OperationCanceledError, QStringLiteral("Operation canceled"));
        setFinished(true);
        Q_EMIT errorOccurred(OperationCanceledError);
        Q_EMIT finished();
    }

    qint64 bytesAvailable() const override { return m_data.size() - m_pos + QIODevice::bytesAvailable(); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, m_data.size() - m_pos);
        if (n <= 0)
            return isFinished() ? -1 : 0;
        memcpy(data, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }

private:
    void deliver()
    {
        if (isFinished())
            return;
        if (m_answer.sentFirst)
            Q_EMIT requestSent();
        if (m_answer.error && m_answer.answeredFirst) {
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_answer.status);
            m_data = m_answer.body;
            for (const auto &[name, value] : m_answer.headers)
                setRawHeader(name, value);
            Q_EMIT metaDataChanged();
            Q_EMIT readyRead();
        }
        if (m_answer.error) {
            setError(*m_answer.error, QStringLiteral("scripted failure"));
            setFinished(true);
            Q_EMIT errorOccurred(*m_answer.error);
            Q_EMIT finished();
            return;
        }
        if (!m_answer.notHttp) {
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_answer.status);
            // As Qt reports HTTP refusals: 400 as a protocol error, others by kind.
            if (m_answer.status == 400)
                setError(ProtocolInvalidOperationError, QStringLiteral("scripted status"));
            else if (m_answer.status >= 500)
                setError(InternalServerError, QStringLiteral("scripted status"));
            else if (m_answer.status >= 401)
                setError(ContentAccessDenied, QStringLiteral("scripted status"));
        }
        m_data = m_answer.body;
        setHeader(QNetworkRequest::ContentLengthHeader, m_data.size());
        for (const auto &[name, value] : m_answer.headers) {
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                setHeader(QNetworkRequest::ContentLengthHeader, value.toLongLong()); // a length that may lie
            else
                setRawHeader(name, value);
        }
        Q_EMIT metaDataChanged();
        Q_EMIT downloadProgress(m_data.size(), m_data.size());
        Q_EMIT readyRead();
        setFinished(true);
        Q_EMIT finished();
    }

    Scripted m_answer;
    QByteArray m_data;
    qint64 m_pos = 0;
};

} // namespace

QJsonObject Sent::json() const { return QJsonDocument::fromJson(body).object(); }

QList<Sent> ScriptedNetwork::sentTo(const QString &path) const
{
    QList<Sent> out;
    for (const Sent &s : sent) {
        if (s.url.path() == path)
            out.push_back(s);
    }
    return out;
}

int ScriptedNetwork::openReplies() const
{
    int n = 0;
    for (auto *reply : findChildren<QNetworkReply *>()) {
        if (!reply->isFinished())
            ++n;
    }
    return n;
}

QNetworkReply *ScriptedNetwork::createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData)
{
    Sent s;
    s.method = op == CustomOperation ? request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray()
                                     : QByteArrayLiteral("GET");
    s.url = request.url();
    for (const QByteArray &name : request.rawHeaderList())
        s.headers.insert(name, request.rawHeader(name));
    if (outgoingData) {
        s.body = outgoingData->readAll();
        s.hasBody = true;
        s.rewindable = outgoingData->reset();
    }
    sent.push_back(s);
    Scripted answer = m_script ? m_script(s) : Scripted::json(404, "{\"code\":\"not_found\"}");
    return new CannedReply(request, s.method, std::move(answer), this);
}

} // namespace zktest
