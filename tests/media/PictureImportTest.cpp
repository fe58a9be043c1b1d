// Pictures: the bounds at which a JPEG goes up unchanged, scaling, qualities,
// orientation, transparency, HEIC, and damaged or hostile files.

#include "MediaTestSupport.h"
#include "services/media/MediaImportSteps.h"

#include <QBuffer>
#include <QColor>
#include <QFileInfo>
#include <QUuid>
#include <QPainter>
#include <QtEndian>

#include <libheif/heif.h>

using namespace mediatest;

namespace {

class PictureImport : public ImportTest {};

// A JPEG with an EXIF orientation tag, the way cameras mark a turned shot.
QByteArray withOrientation(const QByteArray &jpeg, quint16 orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    auto be16 = [&tiff](quint16 v) { tiff.append(char(v >> 8)).append(char(v & 0xff)); };
    auto be32 = [&](quint32 v) { be16(quint16(v >> 16)); be16(quint16(v)); };
    be16(1);           // one entry
    be16(0x0112);      // Orientation
    be16(3);           // SHORT
    be32(1);
    be16(orientation);
    be16(0);
    be32(0);           // no next directory
    QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((app1.size() + 2) >> 8)).append(char((app1.size() + 2) & 0xff)).append(app1);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray heicOf(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    EXPECT_EQ(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 60);
    heif_image *image = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    EXPECT_EQ(heif_context_encode_image(context, image, encoder, nullptr, nullptr).code, heif_error_Ok);
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context *, const void *data, size_t size, void *out) {
        static_cast<QByteArray *>(out)->append(static_cast<const char *>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    QByteArray bytes;
    heif_context_write(context, &writer, &bytes);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

QImage halves(int width, int height, bool sideBySide)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.fillRect(sideBySide ? QRect(0, 0, width / 2, height) : QRect(0, 0, width, height / 2), Qt::red);
    return image;
}

// `jpeg` grown to exactly `size` bytes by comment segments after its start marker.
QByteArray paddedTo(const QByteArray &jpeg, qint64 size)
{
    QByteArray out = jpeg.left(2);
    for (qint64 missing = size - jpeg.size(); missing > 0;) {
        // A segment: its marker, a length field and at most 65533 bytes; never
        // leave fewer bytes than one segment takes.
        qint64 chunk = std::min<qint64>(65537, missing);
        if (missing - chunk > 0 && missing - chunk < 4)
            chunk -= 4;
        const qint64 body = chunk - 4;
        out.append("\xFF\xFE", 2).append(char((body + 2) >> 8)).append(char((body + 2) & 0xff));
        out.append(QByteArray(body, 'z'));
        missing -= chunk;
    }
    return out + jpeg.mid(2);
}

// What was uploaded for halves(..., true): its size, red on the left and blue
// on the right, in the picture and its thumbnail.
void expectRedThenBlue(const ImportedMedia &media, QSize size, QSize thumbnail)
{
    EXPECT_EQ(media.pixelSize, QSizeF(size));
    const QImage uploaded = decoded(media.data.bytes());
    ASSERT_EQ(uploaded.size(), size);
    EXPECT_TRUE(isReddish(uploaded.pixel(size.width() / 64, size.height() / 2)));
    EXPECT_TRUE(isBluish(uploaded.pixel(size.width() - 1 - size.width() / 64, size.height() / 2)));
    ASSERT_TRUE(media.thumbnail.has_value());
    EXPECT_EQ(QSize(media.thumbnail->width, media.thumbnail->height), thumbnail);
    EXPECT_TRUE(isReddish(pictureOf(*media.thumbnail).pixel(2, thumbnail.height() / 2)));
}

} // namespace

TEST_F(PictureImport, JpegGoesUpUnchangedExactlyAtTheByteAndSideBoundsAndIsReencodedOneOver)
{
    const QString file = writeImage(QStringLiteral("shot.jpg"), noise(64, 48, 1), "jpeg", 100);
    const QByteArray original = readFile(file);
    limits.longestImageSide = 64;
    limits.largestImageBytes = original.size();

    const ImportedMedia kept = imported(file);
    EXPECT_EQ(kept.data.bytes(), original);
    EXPECT_EQ(kept.kind, ImportedMedia::Kind::image);
    EXPECT_EQ(kept.fileName, QStringLiteral("shot.jpg"));
    EXPECT_EQ(kept.contentType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(kept.pixelSize, QSizeF(64, 48));
    EXPECT_FALSE(kept.duration.has_value());
    EXPECT_FALSE(kept.posterData.has_value());
    EXPECT_EQ(QUuid::fromString(kept.id).toString(QUuid::WithoutBraces).toUpper(), kept.id);

    limits.largestImageBytes = original.size() - 1; // one byte over
    const ImportedMedia smaller = imported(file);
    EXPECT_NE(smaller.data.bytes(), original);
    EXPECT_LE(smaller.data.size(), limits.largestImageBytes);
    EXPECT_EQ(decoded(smaller.data.bytes()).size(), QSize(64, 48));

    limits.largestImageBytes = original.size();
    limits.longestImageSide = 63; // one pixel over
    const ImportedMedia scaled = imported(file);
    EXPECT_NE(scaled.data.bytes(), original);
    EXPECT_EQ(scaled.pixelSize, QSizeF(63, 47)); // 48 * 63 / 64 = 47.25
    EXPECT_EQ(decoded(scaled.data.bytes()).size(), QSize(63, 47));
    // Halves are rounded away from zero, never cut: 48 * 62 / 64 = 46.5, and
    // the thumbnail of that, 47 * 31 / 62 = 23.5.
    limits.longestImageSide = 62;
    limits.thumbnailSide = 31;
    const ImportedMedia half = imported(file);
    EXPECT_EQ(half.pixelSize, QSizeF(62, 47));
    EXPECT_EQ(decoded(half.data.bytes()).size(), QSize(62, 47));
    ASSERT_TRUE(half.thumbnail.has_value());
    EXPECT_EQ(QSize(half.thumbnail->width, half.thumbnail->height), QSize(31, 24));

    EXPECT_NE(imported(file).id, imported(file).id); // two imports, two items
}

TEST_F(PictureImport, LargePictureIsScaledTo2160WithA480Thumbnail)
{
    const ImportedMedia big = imported(writeImage(QStringLiteral("wide.jpg"), halves(4000, 3000, true), "jpeg", 90));
    expectRedThenBlue(big, QSize(2160, 1620), QSize(480, 360));

    const ImportedMedia png = imported(writeImage(QStringLiteral("wide.png"), halves(4000, 3000, false), "png"));
    EXPECT_EQ(png.pixelSize, QSizeF(2160, 1620));
    EXPECT_EQ(decoded(png.data.bytes()).size(), QSize(2160, 1620));

    const ImportedMedia small = imported(writeImage(QStringLiteral("small.png"), halves(300, 200, true), "png"));
    ASSERT_TRUE(small.thumbnail.has_value());
    EXPECT_EQ(QSize(small.thumbnail->width, small.thumbnail->height), QSize(300, 200));

    // A JPEG of 2160 px and exactly 8,388,608 bytes goes up byte for byte; one
    // byte more and its pixels alone are encoded again, at 0.9: the comments
    // that filled it stay behind.
    const QByteArray strip = readFile(writeImage(QStringLiteral("strip.jpg"), halves(2160, 16, true), "jpeg", 90));
    const QString exact = write(QStringLiteral("exact.jpg"), paddedTo(strip, 8'388'608));
    ASSERT_EQ(QFileInfo(exact).size(), 8'388'608);
    EXPECT_EQ(imported(exact).data.bytes(), readFile(exact));
    const QString over = write(QStringLiteral("over.jpg"), paddedTo(strip, 8'388'609));
    ASSERT_EQ(QFileInfo(over).size(), 8'388'609);
    const ImportedMedia encoded = imported(over);
    EXPECT_EQ(encoded.pixelSize, QSizeF(2160, 16));
    EXPECT_EQ(encoded.data.bytes(), MediaImport::jpegData(MediaImport::opaqueOnWhite(decoded(strip)), 90));
}

TEST_F(PictureImport, TheBytesDecideWhatIsAJpegNotTheName)
{
    // A PNG named .jpg is converted, never uploaded as if it were a JPEG.
    const QString disguised = writeImage(QStringLiteral("photo.final.jpg"), halves(40, 30, true), "png");
    const ImportedMedia media = imported(disguised);
    EXPECT_TRUE(media.data.bytes().startsWith("\xFF\xD8\xFF"));
    EXPECT_NE(media.data.bytes(), readFile(disguised));
    EXPECT_EQ(media.fileName, QStringLiteral("photo.final.jpg"));

    // A JPEG named .png is a JPEG: kept as it is.
    const QString jpegNamedPng = writeImage(QStringLiteral("photo.final.PNG"), halves(40, 30, true), "jpeg", 80);
    const ImportedMedia kept = imported(jpegNamedPng);
    EXPECT_EQ(kept.data.bytes(), readFile(jpegNamedPng));
    EXPECT_EQ(kept.fileName, QStringLiteral("photo.final.jpg"));

    limits.largestDecodedPixels = 10;
    EXPECT_EQ(QString::fromUtf8(refused(jpegNamedPng).what()), QStringLiteral("photo.final.PNG could not be read."));
}

TEST_F(PictureImport, OrientationIsAppliedAndTransparencyLandsOnWhite)
{
    // Filmed turned: stored 80 x 40, red on the left; shown turned a quarter clockwise.
    QByteArray jpeg = readFile(writeImage(QStringLiteral("raw.jpg"), halves(80, 40, true), "jpeg", 95));
    const QString turned = write(QStringLiteral("turned.jpg"), withOrientation(jpeg, 6));
    const ImportedMedia kept = imported(turned);
    EXPECT_EQ(kept.pixelSize, QSizeF(40, 80));
    ASSERT_TRUE(kept.thumbnail.has_value());
    EXPECT_TRUE(isReddish(pictureOf(*kept.thumbnail).pixel(20, 5)));

    limits.longestImageSide = 70;
    const ImportedMedia upright = imported(turned);
    const QImage out = decoded(upright.data.bytes());
    ASSERT_EQ(out.size(), QSize(35, 70));
    EXPECT_TRUE(isReddish(out.pixel(17, 5)));
    EXPECT_TRUE(isBluish(out.pixel(17, 64)));

    QImage clear(20, 20, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    const ImportedMedia flat = imported(writeImage(QStringLiteral("clear.png"), clear, "png"));
    const QImage white = decoded(flat.data.bytes());
    EXPECT_GT(qGray(white.pixel(10, 10)), 245);
    ASSERT_TRUE(flat.thumbnail.has_value());
    EXPECT_EQ(pictureOf(*flat.thumbnail).pixel(3, 3), qRgb(255, 255, 255));
}

TEST_F(PictureImport, QualitiesRunDownToHalfThenThePictureIsTooLarge)
{
    const QString file = writeImage(QStringLiteral("grain.png"), noise(200, 200, 7), "png");
    limits.largestImageBytes = 1000;
    const MediaImportError error = refused(file);
    EXPECT_EQ(error.kind(), MediaImportError::Kind::imageTooLarge);
    EXPECT_EQ(QString::fromUtf8(error.what()), QStringLiteral("grain.png is still over 8 MB after conversion."));

    // Between the sizes at quality 0.9 and 0.5 it fits on the way down.
    const QByteArray at90 = readFile(writeImage(QStringLiteral("q90.jpg"), noise(200, 200, 7), "jpeg", 90));
    const QByteArray at50 = readFile(writeImage(QStringLiteral("q50.jpg"), noise(200, 200, 7), "jpeg", 50));
    limits.largestImageBytes = (at90.size() + at50.size()) / 2;
    const ImportedMedia fits = imported(file);
    EXPECT_LE(fits.data.size(), limits.largestImageBytes);
    EXPECT_GT(fits.data.size(), at50.size() - 1);

    // Exactly the largest size fits, at the first quality and at the last, 0.5;
    // a limit one byte below what 0.5 makes refuses the picture.
    limits.largestImageBytes = at90.size();
    EXPECT_EQ(imported(file).data.size(), at90.size()) << "kept at 0.9";
    limits.largestImageBytes = at50.size();
    EXPECT_EQ(imported(file).data.size(), at50.size()) << "encoded down to 0.5";
    limits.largestImageBytes = at50.size() - 1;
    EXPECT_EQ(refused(file).kind(), MediaImportError::Kind::imageTooLarge);
}

TEST_F(PictureImport, HeicIsDecodedAndConverted)
{
    const QByteArray heic = heicOf(halves(640, 480, true));
    ASSERT_FALSE(heic.isEmpty());
    const QString file = write(QStringLiteral("IMG_0001.HEIC"), heic);
    const ImportedMedia media = imported(file);
    EXPECT_EQ(media.fileName, QStringLiteral("IMG_0001.jpg"));
    expectRedThenBlue(media, QSize(640, 480), QSize(480, 360));

    limits.longestImageSide = 320;
    EXPECT_EQ(imported(file).pixelSize, QSizeF(320, 240));

    limits.longestImageSide = 2160;
    const MediaImportError cut = refused(write(QStringLiteral("cut.heic"), heic.left(heic.size() * 2 / 3)));
    EXPECT_EQ(cut.kind(), MediaImportError::Kind::unreadable);
    limits.largestDecodedPixels = 640 * 480 - 1;
    EXPECT_EQ(refused(file).kind(), MediaImportError::Kind::unreadable);
}

TEST_F(PictureImport, DamagedEmptyAndHostilePicturesAreRefusedInWords)
{
    const QByteArray jpeg = readFile(writeImage(QStringLiteral("whole.jpg"), noise(120, 90, 3), "jpeg", 90));
    const MediaImportError cut = refused(write(QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2)));
    EXPECT_EQ(QString::fromUtf8(cut.what()), QStringLiteral("cut.jpg could not be read."));
    EXPECT_EQ(refused(write(QStringLiteral("empty.jpg"), {})).kind(), MediaImportError::Kind::unreadable);
    EXPECT_EQ(refused(write(QStringLiteral("junk.png"), QByteArray(5000, 'x'))).kind(),
              MediaImportError::Kind::unreadable);
    EXPECT_EQ(refused(path(QStringLiteral("gone.jpg"))).kind(), MediaImportError::Kind::unreadable);

    // A decompression bomb: a PNG that claims 30000 x 30000 pixels. Refused
    // from its header, before any pixel is allocated.
    QByteArray bomb("\x89PNG\r\n\x1A\n", 8);
    QByteArray ihdr("IHDR", 4);
    quint32 side = qToBigEndian<quint32>(30000);
    ihdr.append(reinterpret_cast<const char *>(&side), 4).append(reinterpret_cast<const char *>(&side), 4);
    ihdr.append("\x08\x02\x00\x00\x00", 5);
    const quint32 length = qToBigEndian<quint32>(13);
    bomb.append(reinterpret_cast<const char *>(&length), 4).append(ihdr).append(QByteArray(4, '\0'));
    bomb.append(QByteArray(200, '\0'));
    const MediaImportError exploded = refused(write(QStringLiteral("bomb.png"), bomb));
    EXPECT_EQ(exploded.kind(), MediaImportError::Kind::unreadable);

    // The file's size is checked before it is read; exactly the bounds pass.
    limits.largestPictureFileBytes = jpeg.size();
    limits.largestDecodedPixels = 120 * 90;
    EXPECT_EQ(imported(path(QStringLiteral("whole.jpg"))).pixelSize, QSizeF(120, 90));
    limits.largestDecodedPixels = 120 * 90 - 1;
    EXPECT_EQ(refused(path(QStringLiteral("whole.jpg"))).kind(), MediaImportError::Kind::unreadable);
    limits.largestDecodedPixels = 120 * 90;
    limits.largestPictureFileBytes = jpeg.size() - 1;
    EXPECT_EQ(refused(path(QStringLiteral("whole.jpg"))).kind(), MediaImportError::Kind::unreadable);
}

TEST_F(PictureImport, FilesThatAreNeitherPicturesNorVideosAreUnsupported)
{
    const MediaImportError pdf = refused(write(QStringLiteral("report.pdf"), "%PDF-1.4\n%\xE2\xE3\n1 0 obj\n"));
    EXPECT_EQ(pdf.kind(), MediaImportError::Kind::unsupportedType);
    EXPECT_EQ(QString::fromUtf8(pdf.what()), QStringLiteral("report.pdf is not a JPEG, PNG, HEIC, MP4 or MOV file."));
    EXPECT_EQ(refused(write(QStringLiteral("README"), "just words")).kind(),
              MediaImportError::Kind::unsupportedType);
    EXPECT_EQ(refused(write(QStringLiteral("tone.wav"), QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) + QByteArray(64, 0)))
                  .kind(),
              MediaImportError::Kind::unsupportedType);
    // Unrecognised bytes under a picture's name are a damaged picture.
    EXPECT_EQ(refused(write(QStringLiteral("odd.jpeg"), "not really")).kind(), MediaImportError::Kind::unreadable);
}

TEST(JpegCompleteness, SegmentsMustReachTheEndOfImage)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    noise(33, 17, 9).save(&buffer, "jpeg", 75);
    EXPECT_TRUE(MediaImport::jpegIsComplete(bytes));
    EXPECT_TRUE(MediaImport::jpegIsComplete(bytes + QByteArray("trailing data after the picture")));
    for (qsizetype cut : {qsizetype(3), bytes.size() / 3, bytes.size() - 2, bytes.size() - 1})
        EXPECT_FALSE(MediaImport::jpegIsComplete(bytes.left(cut))) << cut;
}
