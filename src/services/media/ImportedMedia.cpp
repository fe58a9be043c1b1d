#include "services/media/ImportedMedia.h"

#include "design/L10n.h"

#include <QBuffer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct MediaData::Payload {
    QByteArray bytes;
    int fd = -1;
    qint64 size = 0;

    Payload() = default;
    Payload(const Payload &) = delete;
    Payload &operator=(const Payload &) = delete;
    ~Payload()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

// Reads a shared descriptor with positioned reads, so readers never disturb one
// another, and never past the size checked at import: a file that grew since is
// cut there, one that shrank is a read error rather than a short upload.
class DescriptorReader final : public QIODevice {
public:
    DescriptorReader(std::shared_ptr<const void> keep, int fd, qint64 size)
        : m_keep(std::move(keep)), m_fd(fd), m_size(size)
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    bool seek(qint64 pos) override
    {
        if (pos < 0 || pos > m_size)
            return false;
        QIODevice::seek(pos);
        m_pos = pos;
        return true;
    }
    bool atEnd() const override { return m_pos >= m_size; }
    qint64 bytesAvailable() const override { return m_size - m_pos + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 want = std::min(maxSize, m_size - m_pos);
        if (want <= 0)
            return m_pos >= m_size ? -1 : 0;
        ssize_t n;
        do {
            n = ::pread(m_fd, data, size_t(want), off_t(m_pos));
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            setErrorString(QStringLiteral("The imported file is shorter than it was."));
            return -1;
        }
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::shared_ptr<const void> m_keep;
    int m_fd;
    qint64 m_size;
    qint64 m_pos = 0;
};

} // namespace

MediaData MediaData::fromBytes(QByteArray bytes)
{
    auto payload = std::make_shared<Payload>();
    payload->size = bytes.size();
    payload->bytes = std::move(bytes);
    MediaData d;
    d.m_payload = std::move(payload);
    return d;
}

MediaData MediaData::adoptDescriptor(int fd, qint64 size)
{
    if (fd < 0)
        return {};
    auto payload = std::make_shared<Payload>();
    payload->fd = fd; // closed by the payload from here on, whatever happens
    struct stat st {};
    if (size < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < size)
        return {};
    payload->size = size;
    MediaData d;
    d.m_payload = std::move(payload);
    return d;
}

bool MediaData::isFile() const { return m_payload && m_payload->fd >= 0; }

qint64 MediaData::size() const { return m_payload ? m_payload->size : 0; }

QByteArray MediaData::bytes() const { return m_payload && m_payload->fd < 0 ? m_payload->bytes : QByteArray(); }

std::unique_ptr<QIODevice> MediaData::open() const
{
    if (!m_payload)
        return nullptr;
    if (m_payload->fd >= 0)
        return std::make_unique<DescriptorReader>(m_payload, m_payload->fd, m_payload->size);
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(m_payload->bytes);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

QByteArray MediaData::readAll() const
{
    if (!isFile())
        return bytes();
    const std::unique_ptr<QIODevice> reader = open();
    QByteArray all;
    all.resize(m_payload->size);
    qint64 done = 0;
    while (done < all.size()) {
        const qint64 n = reader->read(all.data() + done, all.size() - done);
        if (n <= 0)
            return {};
        done += n;
    }
    return all;
}

MediaUpload::MediaSource MediaData::source() const
{
    if (!isFile())
        return MediaUpload::MediaSource::fromData(bytes());
    std::shared_ptr<const Payload> payload = m_payload;
    return MediaUpload::MediaSource::fromOpener(payload->size, [payload]() -> std::unique_ptr<QIODevice> {
        return std::make_unique<DescriptorReader>(payload, payload->fd, payload->size);
    });
}

const char *MediaImportError::messageKey(Kind kind)
{
    switch (kind) {
    case Kind::unsupportedType:
        return "%@ is not a JPEG, PNG, HEIC, MP4 or MOV file.";
    case Kind::unreadable:
        return "%@ could not be read.";
    case Kind::imageTooLarge:
        return "%@ is still over 8 MB after conversion.";
    case Kind::videoTooLarge:
        return "%@ is over 300 MB.";
    case Kind::videoTooLong:
        return "%@ is longer than 15 minutes.";
    case Kind::transcodeFailed:
        return "%@ could not be converted to MP4.";
    }
    return "%@ could not be read.";
}

QString MediaImportError::errorDescription() const { return L10n::tf(messageKey(m_kind), m_name); }

const char *MediaImportError::what() const noexcept
{
    if (m_what.empty())
        m_what = QString::fromLatin1(messageKey(m_kind)).replace(QLatin1String("%@"), m_name).toStdString();
    return m_what.c_str();
}
