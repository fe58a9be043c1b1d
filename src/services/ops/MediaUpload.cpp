#include "services/ops/MediaUpload.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cstring>

namespace MediaUpload {

MediaSource MediaSource::fromData(QByteArray data)
{
    MediaSource s;
    s.m_data = std::move(data);
    return s;
}

MediaSource MediaSource::fromFile(QString path)
{
    MediaSource s;
    s.m_path = std::move(path);
    return s;
}

MediaSource MediaSource::fromOpener(qint64 size, Opener open)
{
    MediaSource s;
    s.m_opener = std::move(open);
    s.m_openerSize = s.m_opener ? size : -1;
    return s;
}

qint64 MediaSource::size() const
{
    if (m_opener)
        return m_openerSize;
    if (!isFile())
        return m_data.size();
    const QFileInfo info(m_path);
    return info.isFile() && info.isReadable() ? info.size() : -1;
}

std::unique_ptr<QIODevice> MediaSource::open() const
{
    if (m_opener)
        return m_opener();
    if (!isFile()) {
        // QBuffer over a shallow copy: the bytes stay shared with the caller.
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_data);
        buffer->open(QIODevice::ReadOnly);
        return buffer;
    }
    auto file = std::make_unique<QFile>(m_path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return file;
}

QByteArray makeBoundary()
{
    return "Zephyl-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
}

QByteArray escapedFileName(const QString &fileName)
{
    const QByteArray raw = fileName.toUtf8();
    QByteArray out;
    out.reserve(raw.size());
    for (const char c : raw) {
        switch (c) {
        case '"':
            out += "%22";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray partHead(const QByteArray &boundary, const QString &fileName, const QString &contentType)
{
    // A MIME type never holds a line break; dropping them keeps the header one line.
    QByteArray type = contentType.toUtf8();
    type.removeIf([](char c) { return c == '\r' || c == '\n'; });
    QByteArray head;
    head += "--" + boundary + "\r\n";
    head += "Content-Disposition: form-data; name=\"file\"; filename=\"" + escapedFileName(fileName) + "\"\r\n";
    head += "Content-Type: " + type + "\r\n\r\n";
    return head;
}

QByteArray partTail(const QByteArray &boundary)
{
    return "\r\n--" + boundary + "--\r\n";
}

QByteArray contentTypeHeader(const QByteArray &boundary)
{
    return "multipart/form-data; boundary=" + boundary;
}

bool isUsableUploadAddress(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
           !url.host().isEmpty();
}

bool isUsableContentType(const QString &contentType)
{
    return std::all_of(contentType.begin(), contentType.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

MultipartDevice::MultipartDevice(QByteArray head, std::unique_ptr<QIODevice> inner, qint64 innerSize,
                                 QByteArray tail, QObject *parent)
    : QIODevice(parent), m_head(std::move(head)), m_inner(std::move(inner)), m_innerSize(std::max<qint64>(0, innerSize)),
      m_tail(std::move(tail))
{
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

MultipartDevice::~MultipartDevice() = default;

qint64 MultipartDevice::size() const
{
    return m_head.size() + m_innerSize + m_tail.size();
}

bool MultipartDevice::seek(qint64 pos)
{
    if (pos < 0 || pos > size())
        return false;
    QIODevice::seek(pos);
    m_pos = pos;
    const qint64 innerPos = std::clamp<qint64>(pos - m_head.size(), 0, m_innerSize);
    if (m_inner && !m_inner->seek(innerPos))
        return false;
    return true;
}

bool MultipartDevice::atEnd() const
{
    return m_pos >= size() && QIODevice::bytesAvailable() == 0;
}

qint64 MultipartDevice::bytesAvailable() const
{
    return (size() - m_pos) + QIODevice::bytesAvailable();
}

qint64 MultipartDevice::readData(char *data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize && m_pos < size()) {
        const qint64 headSize = m_head.size();
        if (m_pos < headSize) {
            const qint64 n = std::min(maxSize - done, headSize - m_pos);
            std::memcpy(data + done, m_head.constData() + m_pos, size_t(n));
            done += n;
            m_pos += n;
        } else if (m_pos < headSize + m_innerSize) {
            const qint64 want = std::min(maxSize - done, headSize + m_innerSize - m_pos);
            const qint64 n = m_inner ? m_inner->read(data + done, want) : -1;
            if (n <= 0) {
                // The file shrank or failed under us: a short body is an error, not padding.
                if (done > 0)
                    return done;
                setErrorString(m_inner ? m_inner->errorString() : QStringLiteral("no source"));
                return -1;
            }
            done += n;
            m_pos += n;
        } else {
            const qint64 tailPos = m_pos - headSize - m_innerSize;
            const qint64 n = std::min(maxSize - done, m_tail.size() - tailPos);
            std::memcpy(data + done, m_tail.constData() + tailPos, size_t(n));
            done += n;
            m_pos += n;
        }
    }
    return done;
}

} // namespace MediaUpload
