#pragma once

#include "base/CancelToken.h"
#include "services/media/ImportedMedia.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <variant>

class QImage;
class QWidget;

// The publishing limits, and the decoding limits that keep a hostile file
// from exhausting memory or time. Injectable so tests reach every bound.
struct MediaImportLimits {
    int longestImageSide = 2160;               // scaled down only when longer
    qint64 largestImageBytes = 8'388'608;      // too large only when more
    int thumbnailSide = 480;
    double longestVideoSeconds = 900.0;        // too long only when more
    qint64 largestVideoBytes = 314'572'800;    // too large only when more
    int posterSide = 1080;
    // Beyond these a file is refused as unreadable before it is decoded.
    qint64 largestPictureFileBytes = 256ll << 20; // read into memory whole
    qint64 largestDecodedPixels = 100'000'000;    // per decoded picture
    qint64 largestVideoPixels = 8192ll * 4320;    // per decoded video frame
    // A cancelled token stops a conversion at its next packet (a closed composer
    // does not want it); the import then fails as transcodeFailed.
    CancelToken cancel;
    // Where a conversion writes its short-lived MP4; empty: the user's temporary directory.
    QString temporaryDirectory;
    // Called on the worker once the file is open and before it is read; tests
    // use it to make the file vanish or change mid-import.
    std::function<void(const QString &path)> afterOpen;
};

// Turns one file the user chose into an ImportedMedia: pictures are scaled and
// re-encoded as JPEG until they fit, videos are checked and, unless they already
// are MP4 with H.264 or HEVC video, converted to H.264/AAC MP4. The work runs on a
// small pool of its own; awaiting callers resume on their own (main) thread.
// Failures are MediaImportError, thrown out of importFile().
class MediaImporter {
public:
    using Limits = MediaImportLimits;

    // Imports the local file at `url`. Throws MediaImportError, naming the
    // file's last path component.
    static QCoro::Task<ImportedMedia> importFile(QUrl url);
    static QCoro::Task<ImportedMedia> importFile(QUrl url, Limits limits);

    // The same work on the calling thread: for the importer's workers, fuzzing and benchmarks.
    static std::variant<ImportedMedia, MediaImportError> importNow(const QString &path, const Limits &limits = Limits());

    // The modal file chooser of the composer and the draft editor, titled
    // `title` (the words of the control that opened it): the chosen files in
    // the dialog's order, none when cancelled. Main thread; desktop library only.
    static QList<QUrl> pickFiles(bool allowsMultiple, const QString &title, QWidget *parent = nullptr);

    // The MIME types the chooser offers, in order: JPEG, PNG, HEIC, TIFF, MPEG-4, QuickTime.
    static const QStringList &allowedTypes();

    // A view of a thumbnail's pixels as an image, without copying them; the image
    // keeps the bytes alive. Null for a null thumbnail.
    static QImage thumbnailImage(const MediaThumbnail &thumbnail);
};
