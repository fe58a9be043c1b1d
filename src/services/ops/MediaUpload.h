#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

// The pieces of a media upload that do not talk to the network: where the bytes
// come from, which way they go, and the multipart framing around them.
namespace MediaUpload {

// Files above this size go through a direct upload; this size and below, multipart.
inline constexpr qint64 directThreshold = 3'145'728;
inline constexpr const char *multipartPath = "/api/instagram/media";
inline constexpr const char *directPath = "/api/instagram/media/direct";
inline constexpr const char *directUnavailableCode = "direct_upload_unavailable";
inline constexpr const char *transferFailedCode = "media_upload_failed";
// The service's code for a body larger than it takes; an upload answered 413
// without a code of its own (a proxy's page, or the upload host) reports it too.
inline constexpr const char *tooLargeCode = "payload_too_large";
inline constexpr int tooLargeStatus = 413;

inline bool goesDirect(qint64 byteSize) { return byteSize > directThreshold; }

// The bytes of one file: either already in memory (shared, never copied) or a
// file on disk that is read in pieces while it is sent. Each attempt of an upload
// opens a fresh device, so a repeat starts from the first byte.
class MediaSource {
public:
    static MediaSource fromData(QByteArray data);
    static MediaSource fromFile(QString path);
    // Bytes kept elsewhere (an open descriptor of the media importer): `open`
    // makes a fresh reader of exactly `size` bytes, or null when it cannot.
    using Opener = std::function<std::unique_ptr<QIODevice>()>;
    static MediaSource fromOpener(qint64 size, Opener open);

    // The length in bytes; -1 when the file cannot be read.
    qint64 size() const;
    // A fresh device positioned at the start, open for reading; null when the
    // file cannot be opened.
    std::unique_ptr<QIODevice> open() const;
    bool isFile() const { return !m_path.isEmpty() || m_opener; }

private:
    QByteArray m_data;
    QString m_path;
    Opener m_opener;
    qint64 m_openerSize = -1;
};

// "Zephyl-" and a fresh upper-case UUID: a new boundary for every request.
QByteArray makeBoundary();

// The file name as it may stand between the quotes of the part header: a double
// quote, CR and LF become %22, %0D and %0A, so a name can neither end the header
// line nor start another part.
QByteArray escapedFileName(const QString &fileName);

// Everything before the file's bytes, and everything after them.
QByteArray partHead(const QByteArray &boundary, const QString &fileName, const QString &contentType);
QByteArray partTail(const QByteArray &boundary);

// The request's Content-Type value.
QByteArray contentTypeHeader(const QByteArray &boundary);

// True for an address the bytes may be sent to: a URL with the https scheme (in
// any letter case) and a host.
bool isUsableUploadAddress(const QString &address);

// True for a content type the service may hand out for the transfer: printable
// ASCII only, so it cannot end its header line and start another.
bool isUsableContentType(const QString &contentType);

// A read-only, seekable device that yields head, then the inner device's bytes,
// then tail, without holding the inner bytes in memory. Its size is known up
// front, so the request carries a Content-Length and can be rewound.
class MultipartDevice final : public QIODevice {
    Q_OBJECT
public:
    MultipartDevice(QByteArray head, std::unique_ptr<QIODevice> inner, qint64 innerSize, QByteArray tail,
                    QObject *parent = nullptr);
    ~MultipartDevice() override;

    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;
    bool reset() override { return seek(0); }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_head;
    std::unique_ptr<QIODevice> m_inner;
    qint64 m_innerSize;
    QByteArray m_tail;
    qint64 m_pos = 0;
};

} // namespace MediaUpload
