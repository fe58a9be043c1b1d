// Pictures: decoded once (HEIC through libheif, the rest through Qt's readers),
// made upright and opaque, scaled to the longest side allowed and encoded as JPEG
// at falling qualities until it fits.

#include "services/media/MediaImportSteps.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>

#include <libheif/heif.h>

#include <cstring>
#include <memory>

namespace MediaImport {

bool jpegIsComplete(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    qsizetype i = 2;
    while (i < n) {
        if (p[i] != 0xFF)
            return false;
        while (i < n && p[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const uchar marker = p[i++];
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (i + 2 > n)
            return false;
        const qsizetype length = (qsizetype(p[i]) << 8) | p[i + 1];
        if (length < 2 || i + length > n)
            return false;
        i += length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data runs to the next marker that is neither a stuffed
        // zero nor a restart.
        for (;;) {
            const void *ff = i < n ? std::memchr(p + i, 0xFF, size_t(n - i)) : nullptr;
            if (!ff)
                return false;
            const qsizetype at = static_cast<const uchar *>(ff) - p;
            if (at + 1 >= n)
                return false;
            const uchar next = p[at + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i = at + 2;
            } else if (next == 0xFF) {
                i = at + 1;
            } else {
                i = at;
                break;
            }
        }
    }
    return false;
}

namespace {

struct HeifContextFree {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HeifHandleFree {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct HeifImageFree {
    void operator()(heif_image *i) const { heif_image_release(i); }
};
struct HeifOptionsFree {
    void operator()(heif_decoding_options *o) const { heif_decoding_options_free(o); }
};

// The primary image, its rotation and mirroring applied by libheif.
QImage decodeHeif(const QByteArray &bytes, const QString &name, const MediaImporter::Limits &limits)
{
    std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
    if (!context)
        throw MediaImportError::unreadable(name);
    heif_context_set_maximum_image_size_limit(context.get(), 1 << 15);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(), size_t(bytes.size()), nullptr)
            .code != heif_error_Ok)
        throw MediaImportError::unreadable(name);
    heif_image_handle *rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok || !rawHandle)
        throw MediaImportError::unreadable(name);
    std::unique_ptr<heif_image_handle, HeifHandleFree> handle(rawHandle);
    const qint64 width = heif_image_handle_get_width(handle.get());
    const qint64 height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0 || width * height > limits.largestDecodedPixels)
        throw MediaImportError::unreadable(name);

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
    heif_image *rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
                .code != heif_error_Ok
        || !rawImage)
        throw MediaImportError::unreadable(name);
    std::unique_ptr<heif_image, HeifImageFree> image(rawImage);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0 || stride < w * (alpha ? 4 : 3))
        throw MediaImportError::unreadable(name);
    // Copied out, so the decoder's buffer can go at once.
    QImage out = QImage(plane, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888)
                     .convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        throw MediaImportError::unreadable(name);
    if (heif_image_handle_get_color_profile_type(handle.get()) != heif_color_profile_type_not_present) {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle.get());
        if (size > 0 && size < (4u << 20)) {
            QByteArray icc(qsizetype(size), Qt::Uninitialized);
            if (heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok)
                out.setColorSpace(QColorSpace::fromIccProfile(icc));
        }
    }
    return out;
}

// Everything else Qt reads; a JPEG too large to keep is decoded straight to the
// size it is scaled to, which spares most of the work and memory. `longest` is
// the source's longest side, whatever size it was decoded at.
QImage decodeWithQt(const QByteArray &bytes, bool jpeg, const QString &name, const MediaImporter::Limits &limits,
                    int &longest)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize raw = reader.size();
    if (raw.isValid() && qint64(raw.width()) * raw.height() > limits.largestDecodedPixels)
        throw MediaImportError::unreadable(name);
    longest = std::max(raw.width(), raw.height());
    if (jpeg && longest > limits.longestImageSide && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(fittedSize(raw, limits.longestImageSide));
    QImage image = reader.read();
    if (image.isNull())
        throw MediaImportError::unreadable(name);
    if (!raw.isValid())
        longest = std::max(image.width(), image.height());
    return image;
}

} // namespace

ImportedMedia importPicture(const SourceFile &file, Format format, const MediaImporter::Limits &limits)
{
    // Checked before anything is read: a picture file is held in memory whole.
    if (file.size <= 0 || file.size > limits.largestPictureFileBytes)
        throw MediaImportError::unreadable(file.name);
    QByteArray bytes = file.readAll();
    // Whether the bytes may go up unchanged is the bytes' own say, not the name's.
    const bool jpeg = format == Format::jpeg;
    if (jpeg && !jpegIsComplete(bytes))
        throw MediaImportError::unreadable(file.name);

    int longest = 0;
    QImage bitmap;
    if (format == Format::heif) {
        bitmap = decodeHeif(bytes, file.name, limits);
        longest = std::max(bitmap.width(), bitmap.height());
    } else {
        bitmap = decodeWithQt(bytes, jpeg, file.name, limits, longest);
    }
    if (longest > limits.longestImageSide) {
        const QSize target = fittedSize(bitmap.size(), limits.longestImageSide);
        if (bitmap.size() != target) {
            QImage scaled = bitmap.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            if (!scaled.isNull())
                bitmap = std::move(scaled);
        }
    }
    bitmap = opaqueOnWhite(std::move(bitmap));
    if (bitmap.isNull())
        throw MediaImportError::unreadable(file.name);

    const bool keep = jpeg && longest <= limits.longestImageSide && bytes.size() <= limits.largestImageBytes;
    if (!keep) {
        std::optional<QByteArray> encoded = jpegData(bitmap, 90);
        if (!encoded)
            throw MediaImportError::unreadable(file.name);
        // Each try starts from the same bitmap, never from the last JPEG.
        for (int quality = 80; encoded->size() > limits.largestImageBytes && quality >= 50; quality -= 10) {
            std::optional<QByteArray> smaller = jpegData(bitmap, quality);
            if (!smaller)
                break;
            encoded = std::move(smaller);
        }
        if (encoded->size() > limits.largestImageBytes)
            throw MediaImportError::imageTooLarge(file.name);
        bytes = std::move(*encoded);
    }

    const QImage preview =
        limits.thumbnailSide < std::max(bitmap.width(), bitmap.height())
            ? bitmap.scaled(fittedSize(bitmap.size(), limits.thumbnailSide), Qt::IgnoreAspectRatio,
                            Qt::SmoothTransformation)
            : bitmap;

    ImportedMedia media;
    media.id = newId();
    media.kind = ImportedMedia::Kind::image;
    media.fileName = uploadName(file.name, ".jpg");
    media.data = MediaData::fromBytes(std::move(bytes));
    media.contentType = QStringLiteral("image/jpeg");
    if (MediaThumbnail thumb = thumbnailOf(preview.isNull() ? bitmap : preview); !thumb.isNull())
        media.thumbnail = std::move(thumb);
    media.pixelSize = QSizeF(bitmap.size());
    return media;
}

} // namespace MediaImport
