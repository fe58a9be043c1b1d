#include "services/media/MediaImporter.h"
#include "services/media/MediaImportSteps.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QPainter>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <cstring>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::literals;

namespace MediaImport {

SourceFile::SourceFile(const QString &filePath, const MediaImporter::Limits &limits)
    : path(filePath), name(QFileInfo(filePath).fileName())
{
    if (name.isEmpty())
        name = filePath;
    const QByteArray native = QFile::encodeName(filePath);
    do {
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw MediaImportError::unreadable(name);
    size = st.st_size;
    if (limits.afterOpen)
        limits.afterOpen(filePath);
    head.resize(qsizetype(std::min<qint64>(size, 64)));
    ssize_t n;
    do {
        n = ::pread(fd, head.data(), size_t(head.size()), 0);
    } while (n < 0 && errno == EINTR);
    head.resize(n < 0 ? 0 : qsizetype(n));
}

SourceFile::~SourceFile()
{
    if (fd >= 0)
        ::close(fd);
}

QByteArray SourceFile::readAll() const
{
    QByteArray bytes;
    bytes.resize(qsizetype(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw MediaImportError::unreadable(name);
        done += n;
    }
    return bytes;
}

namespace {

bool startsWith(const QByteArray &head, qsizetype at, std::string_view magic)
{
    return head.size() >= at + qsizetype(magic.size())
        && std::string_view(head.constData() + at, magic.size()) == magic;
}

// ISO base media files name their kind in the brands of the leading ftyp box.
Format formatOfIsoBrands(const QByteArray &head)
{
    static constexpr std::string_view heifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                                       "mif1", "msf1", "avif", "avis"};
    static constexpr std::string_view mpeg4Brands[] = {"isom", "iso2", "iso3", "iso4", "iso5", "iso6",
                                                        "mp41", "mp42", "avc1", "mmp4", "MSNV", "dash",
                                                        "M4V ", "M4VH", "M4VP"};
    const std::string_view major(head.constData() + 8, 4);
    for (std::string_view brand : heifBrands)
        if (major == brand)
            return Format::heif;
    for (std::string_view brand : mpeg4Brands)
        if (major == brand)
            return Format::mpeg4;
    return Format::movie; // QuickTime ("qt  "), 3GPP and other ISO movies
}

} // namespace

Format formatOf(const QByteArray &head)
{
    if (startsWith(head, 0, "\xFF\xD8\xFF"sv))
        return Format::jpeg;
    if (startsWith(head, 0, "\x89PNG\r\n\x1A\n"sv) || startsWith(head, 0, "GIF8"sv) || startsWith(head, 0, "BM"sv)
        || startsWith(head, 0, "II*\0"sv) || startsWith(head, 0, "MM\0*"sv)
        || (startsWith(head, 0, "RIFF"sv) && startsWith(head, 8, "WEBP"sv)))
        return Format::picture;
    if (startsWith(head, 4, "ftyp"sv) && head.size() >= 12)
        return formatOfIsoBrands(head);
    if (startsWith(head, 4, "moov"sv) || startsWith(head, 4, "mdat"sv) || startsWith(head, 4, "wide"sv)
        || startsWith(head, 4, "free"sv) || startsWith(head, 0, "\x1A\x45\xDF\xA3"sv)
        || (startsWith(head, 0, "RIFF"sv) && startsWith(head, 8, "AVI "sv)) || startsWith(head, 0, "FLV\x01"sv)
        || startsWith(head, 0, "\x00\x00\x01\xBA"sv))
        return Format::movie;
    return Format::unknown;
}

Format formatOfName(const QString &name)
{
    if (!name.contains(QLatin1Char('.')))
        return Format::unknown;
    static const QMimeDatabase db;
    for (const QMimeType &type : db.mimeTypesForFileName(name)) {
        const QString mime = type.name();
        if (mime.startsWith(QLatin1String("video/")) || type.inherits(QStringLiteral("video/mp4"))
            || type.inherits(QStringLiteral("video/quicktime")))
            return Format::movie;
        if (mime.startsWith(QLatin1String("image/")) && mime != QLatin1String("image/svg+xml"))
            return Format::picture;
    }
    return Format::unknown;
}

QString newId() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

QString uploadName(const QString &name, const char *extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot > 0 ? name.left(dot) : name) + QLatin1String(extension);
}

MediaThumbnail thumbnailOf(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    MediaThumbnail thumb;
    if (rgb.isNull())
        return thumb;
    thumb.width = rgb.width();
    thumb.height = rgb.height();
    const qsizetype row = qsizetype(thumb.width) * 4;
    thumb.pixels.resize(row * thumb.height);
    for (int y = 0; y < thumb.height; ++y)
        std::memcpy(thumb.pixels.data() + row * y, rgb.constScanLine(y), size_t(row));
    return thumb;
}

std::optional<QByteArray> jpegData(const QImage &image, int quality)
{
    if (image.isNull())
        return std::nullopt;
    // Only the pixels go up: the writer would carry the source file's texts (a
    // JPEG's comments, a PNG's text chunks) into the upload as comments.
    QImage pixels = image;
    if (!image.textKeys().isEmpty()) {
        pixels = QImage(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
        pixels.setColorTable(image.colorTable());
        pixels = pixels.copy();
        pixels.setColorSpace(image.colorSpace());
        pixels.setDotsPerMeterX(image.dotsPerMeterX());
        pixels.setDotsPerMeterY(image.dotsPerMeterY());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (pixels.isNull() || !writer.write(pixels) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

QImage opaqueOnWhite(QImage image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull())
        return flat;
    flat.setColorSpace(image.colorSpace());
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat;
}

QSize fittedSize(QSize size, int maximumSide)
{
    const int longest = std::max(size.width(), size.height());
    if (longest <= 0)
        return size;
    const double scale = double(maximumSide) / longest;
    const auto side = [scale](int n) { return std::max(1, int(std::lround(n * scale))); };
    return {side(size.width()), side(size.height())};
}

} // namespace MediaImport

std::variant<ImportedMedia, MediaImportError> MediaImport::importNow(const QString &path,
                                                                     const MediaImporter::Limits &limits,
                                                                     const StopCheck &stopped)
{
    QString name = QFileInfo(path).fileName();
    try {
        const SourceFile file(path, limits);
        Format format = formatOf(file.head);
        if (format == Format::unknown)
            format = formatOfName(file.name);
        switch (format) {
        case Format::jpeg:
        case Format::picture:
        case Format::heif:
            return importPicture(file, format, limits);
        case Format::mpeg4:
        case Format::movie:
            return importVideo(file, format, limits, stopped);
        case Format::unknown:
            break;
        }
        return MediaImportError::unsupportedType(file.name);
    } catch (const MediaImportError &error) {
        return error;
    } catch (const std::bad_alloc &) {
        return MediaImportError::unreadable(name);
    }
}

std::variant<ImportedMedia, MediaImportError> MediaImporter::importNow(const QString &path, const Limits &limits)
{
    return MediaImport::importNow(path, limits, [&limits] { return limits.cancel.isCancelled(); });
}

namespace {

// Imports run on a pool of their own, two at a time: a conversion already keeps
// several cores busy, and the application's shared pool stays free.
QThreadPool *importPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        p->setExpiryTimeout(30'000);
        return p;
    }();
    return pool;
}

} // namespace

QCoro::Task<ImportedMedia> MediaImporter::importFile(QUrl url) { return importFile(std::move(url), Limits()); }

QCoro::Task<ImportedMedia> MediaImporter::importFile(QUrl url, Limits limits)
{
    if (!url.isLocalFile()) {
        const QString name = url.fileName();
        throw MediaImportError::unreadable(name.isEmpty() ? url.toDisplayString() : name);
    }
    const QString path = url.toLocalFile();
    QFuture<std::variant<ImportedMedia, MediaImportError>> work =
        QtConcurrent::run(importPool(), [path, limits] { return importNow(path, limits); });
    std::variant<ImportedMedia, MediaImportError> outcome = co_await work;
    if (auto *error = std::get_if<MediaImportError>(&outcome))
        throw MediaImportError(*error);
    co_return std::get<ImportedMedia>(std::move(outcome));
}

const QStringList &MediaImporter::allowedTypes()
{
    static const QStringList types{QStringLiteral("image/jpeg"), QStringLiteral("image/png"),
                                   QStringLiteral("image/heic"), QStringLiteral("image/tiff"),
                                   QStringLiteral("video/mp4"),  QStringLiteral("video/quicktime")};
    return types;
}

QImage MediaImporter::thumbnailImage(const MediaThumbnail &thumbnail)
{
    if (thumbnail.isNull())
        return {};
    // The image shares the thumbnail's bytes and holds a reference until it goes.
    auto *keep = new QByteArray(thumbnail.pixels);
    return QImage(reinterpret_cast<const uchar *>(keep->constData()), thumbnail.width, thumbnail.height,
                  qsizetype(thumbnail.width) * 4, QImage::Format_RGB32,
                  [](void *info) { delete static_cast<QByteArray *>(info); }, keep);
}
