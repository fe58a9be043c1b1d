#pragma once

#include "services/ops/MediaUpload.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QIODevice>
#include <QSizeF>
#include <QString>

#include <exception>
#include <memory>
#include <optional>
#include <string>

// One imported file, ready to upload, and the importer's failures. Headless: the
// publishing pipeline and the composer's state use these without any GUI library;
// the importer itself (decoders, FFmpeg, libheif) lives in zk_media.

// The bytes to upload. A picture (at most 8 MiB of JPEG) is held in memory. A video
// (up to 300 MiB) is never held in memory: it is an open descriptor on a file whose
// name is already gone -- a conversion's output, or the user's own MP4 when it is
// uploaded unchanged -- so what was checked at import is what goes up even if the
// user later moves, replaces or deletes the original, and nothing is left on disk
// when the last copy of the value is dropped or the process ends. Copies share
// the same bytes; each upload attempt opens its own reader from the first byte.
class MediaData {
public:
    MediaData() = default;
    static MediaData fromBytes(QByteArray bytes);
    // Takes ownership of an open, readable descriptor (closed when the last copy
    // goes); `size` is the byte count checked at import, and a reader yields no
    // more than that. Returns an empty value and closes `fd` when it is not usable.
    static MediaData adoptDescriptor(int fd, qint64 size);

    bool isFile() const;
    bool isEmpty() const { return size() <= 0; }
    qint64 size() const;
    // In-memory bytes; empty for a file-backed value (use open()).
    QByteArray bytes() const;
    // A fresh reader positioned at the first byte; null when the bytes cannot be
    // read any more.
    std::unique_ptr<QIODevice> open() const;
    // Everything, read into memory; for small values and tests. Empty on failure.
    QByteArray readAll() const;
    // The same bytes as the upload client takes them. For a file the value must
    // outlive the upload (the submission that carries it does).
    MediaUpload::MediaSource source() const;

private:
    struct Payload;
    std::shared_ptr<const Payload> m_payload;
};

// The preview of an imported file, decoded once at import so views never decode
// the picture or the video again. Raw 32-bit pixels 0xffRRGGBB in native byte order
// (QImage::Format_RGB32 in a GUI), rows of width * 4 bytes, opaque: transparent parts
// are shown on white, as they are uploaded. Not a QImage: this header stays free of
// Qt Gui; the view wraps the bytes without copying them.
struct MediaThumbnail {
    int width = 0;
    int height = 0;
    QByteArray pixels;

    bool isNull() const { return width <= 0 || height <= 0 || pixels.size() < qsizetype(width) * height * 4; }
};

struct ImportedMedia {
    enum class Kind : quint8 { image, video };

    // A new upper-case UUID made at import; the identity.
    QString id;
    Kind kind = Kind::image;
    // The picked file's name without its extension, then ".jpg" or ".mp4".
    QString fileName;
    // JPEG bytes for an image, an MPEG-4 file for a video.
    MediaData data;
    // "image/jpeg" or "video/mp4".
    QString contentType;
    // A picture scaled to at most 480 px on its longest side; a video's poster
    // frame; absent when a video's poster frame could not be made.
    std::optional<MediaThumbnail> thumbnail;
    // Video only: the poster frame as JPEG at quality 0.88.
    std::optional<QByteArray> posterData;
    // Video only: the length in seconds.
    std::optional<double> duration;
    // Picture: pixels after any scaling (upright). Video: the displayed size, the
    // rotation applied.
    QSizeF pixelSize;

    // Two imports of the same file are two items.
    friend bool operator==(const ImportedMedia &a, const ImportedMedia &b) { return a.id == b.id; }
};

inline size_t qHash(const ImportedMedia &media, size_t seed = 0) { return qHash(media.id, seed); }

// Why a file could not be imported. Carries the picked file's name (extension
// included) and puts itself into words; nothing else words it.
class MediaImportError final : public std::exception {
public:
    enum class Kind : quint8 {
        unsupportedType, // not a picture or a video we can read
        unreadable,      // unreadable, damaged, empty, without a video track, or beyond the decoding limits
        imageTooLarge,   // still over 8 MiB after the last JPEG quality
        videoTooLarge,   // more than 300 MiB to upload
        videoTooLong,    // longer than 15 minutes
        transcodeFailed, // the conversion to MP4 failed
    };

    static MediaImportError unsupportedType(QString name) { return {Kind::unsupportedType, std::move(name)}; }
    static MediaImportError unreadable(QString name) { return {Kind::unreadable, std::move(name)}; }
    static MediaImportError imageTooLarge(QString name) { return {Kind::imageTooLarge, std::move(name)}; }
    static MediaImportError videoTooLarge(QString name) { return {Kind::videoTooLarge, std::move(name)}; }
    static MediaImportError videoTooLong(QString name, double seconds)
    {
        MediaImportError e(Kind::videoTooLong, std::move(name));
        e.m_seconds = seconds;
        return e;
    }
    static MediaImportError transcodeFailed(QString name) { return {Kind::transcodeFailed, std::move(name)}; }

    Kind kind() const { return m_kind; }
    QString name() const { return m_name; }
    // videoTooLong: the clip's length; travels with the error, not in its words.
    std::optional<double> seconds() const { return m_seconds; }

    // The message for the user in the current language, the name in place.
    QString errorDescription() const;
    // The English key of the message.
    static const char *messageKey(Kind kind);

    const char *what() const noexcept override;

    friend bool operator==(const MediaImportError &a, const MediaImportError &b)
    {
        return a.m_kind == b.m_kind && a.m_name == b.m_name && a.m_seconds == b.m_seconds;
    }

private:
    MediaImportError(Kind kind, QString name) : m_kind(kind), m_name(std::move(name)) {}
    Kind m_kind;
    QString m_name;
    std::optional<double> m_seconds;
    mutable std::string m_what;
};
