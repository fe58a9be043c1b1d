#pragma once

// The importer's steps, private to zk_media (and its tests and fuzzers). Each
// throws MediaImportError; MediaImporter::importNow turns that into its result.

#include "services/media/MediaImporter.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

namespace MediaImport {

// The picked file, opened once: every later read goes through this descriptor,
// so a file that is renamed, replaced or deleted mid-import does not change
// under the importer.
class SourceFile {
public:
    SourceFile(const QString &path, const MediaImporter::Limits &limits);
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    QString path;
    QString name; // last path component, as errors show it
    int fd = -1;
    qint64 size = 0; // at open
    QByteArray head; // the first bytes, for recognising the format

    // All `size` bytes; unreadable(name) when the file is shorter now.
    QByteArray readAll() const;
};

// What the bytes say the file is; `unknown` leaves it to the name's extension.
enum class Format { jpeg, picture, heif, mpeg4, movie, unknown };
Format formatOf(const QByteArray &head);
// The extension's verdict for bytes no format claims: picture, movie or unknown.
Format formatOfName(const QString &name);

ImportedMedia importPicture(const SourceFile &file, Format format, const MediaImporter::Limits &limits);
// `stopped` is asked between packets; true ends a conversion as transcodeFailed.
using StopCheck = std::function<bool()>;
ImportedMedia importVideo(const SourceFile &file, Format format, const MediaImporter::Limits &limits,
                          const StopCheck &stopped);

// MediaImporter::importNow with a stop check of the caller's.
std::variant<ImportedMedia, MediaImportError> importNow(const QString &path, const MediaImporter::Limits &limits,
                                                         const StopCheck &stopped);

// Shared by the picture and video steps.
QString newId();
QString uploadName(const QString &name, const char *extension);
MediaThumbnail thumbnailOf(const QImage &image);
std::optional<QByteArray> jpegData(const QImage &image, int quality);
// The image drawn on white and made opaque 32-bit: what a JPEG keeps of it.
QImage opaqueOnWhite(QImage image);
// Rounded half away from zero, as the upload sizes are.
QSize fittedSize(QSize size, int maximumSide);

// True when the JPEG's segments run from its start to an end-of-image marker;
// false for one that was cut short.
bool jpegIsComplete(const QByteArray &bytes);

} // namespace MediaImport
