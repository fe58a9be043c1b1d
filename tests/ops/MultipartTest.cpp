#include "services/ops/MediaUpload.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace MediaUpload;

namespace {

QByteArray readAllInPieces(QIODevice &device, qint64 piece)
{
    QByteArray out;
    while (!device.atEnd()) {
        const QByteArray chunk = device.read(piece);
        if (chunk.isEmpty())
            break;
        out += chunk;
    }
    return out;
}

QByteArray multipart(const QByteArray &boundary, const QString &name, const QString &type, const MediaSource &source)
{
    MultipartDevice device(partHead(boundary, name, type), source.open(), source.size(), partTail(boundary));
    return readAllInPieces(device, 7);
}

} // namespace

TEST(Multipart, BodyBytesAreTheDocumentedFraming)
{
    const QByteArray boundary = "Zephyl-B";
    const QByteArray body = multipart(boundary, QStringLiteral("poster.jpg"), QStringLiteral("image/jpeg"),
                                      MediaSource::fromData(QByteArray("\x00\x01JPEG\r\n", 8)));
    const QByteArray expected = QByteArray("--Zephyl-B\r\n"
                                           "Content-Disposition: form-data; name=\"file\"; filename=\"poster.jpg\"\r\n"
                                           "Content-Type: image/jpeg\r\n\r\n") +
                                QByteArray("\x00\x01JPEG\r\n", 8) + QByteArray("\r\n--Zephyl-B--\r\n");
    EXPECT_EQ(body, expected);

    // An empty file: nothing between the blank line and the closing CR LF.
    const QByteArray empty =
        multipart(boundary, QStringLiteral("e.bin"), QStringLiteral("application/octet-stream"), MediaSource::fromData({}));
    EXPECT_TRUE(empty.endsWith("Content-Type: application/octet-stream\r\n\r\n\r\n--Zephyl-B--\r\n"));
}

TEST(Multipart, FileNameCannotBreakTheHeaderOrAddAPart)
{
    const QString hostile = QStringLiteral("a\"b\r\nContent-Type: text/html\r\n\r\n--Zephyl-B\nc.jpg");
    const QByteArray head = partHead("Zephyl-B", hostile, QStringLiteral("image/jpeg\r\nX-Evil: 1"));
    EXPECT_EQ(head, QByteArray("--Zephyl-B\r\n"
                               "Content-Disposition: form-data; name=\"file\"; "
                               "filename=\"a%22b%0D%0AContent-Type: text/html%0D%0A%0D%0A--Zephyl-B%0Ac.jpg\"\r\n"
                               "Content-Type: image/jpegX-Evil: 1\r\n\r\n"));
    // Exactly one part header line break pair and one opening boundary line.
    EXPECT_EQ(head.count("\r\n"), 4);
    // Non-ASCII names pass through as UTF-8.
    EXPECT_EQ(escapedFileName(QStringLiteral("кот.jpg")), QStringLiteral("кот.jpg").toUtf8());
}

TEST(Multipart, BoundaryIsFreshUpperCaseUuid)
{
    const QByteArray a = makeBoundary();
    const QByteArray b = makeBoundary();
    EXPECT_NE(a, b);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Zephyl-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(QString::fromLatin1(a))
                    .hasMatch())
        << a.constData();
    EXPECT_EQ(contentTypeHeader(a), "multipart/form-data; boundary=" + a);
}

TEST(Multipart, StreamsFromAFileAndRewinds)
{
    const QString path = zktest::tempDir() + QStringLiteral("/clip.bin");
    QByteArray bytes(300'001, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31 % 251);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const MediaSource source = MediaSource::fromFile(path);
    EXPECT_EQ(source.size(), bytes.size());
    MultipartDevice device(partHead("Zephyl-X", QStringLiteral("clip.bin"), QStringLiteral("video/mp4")), source.open(),
                           source.size(), partTail("Zephyl-X"));
    const QByteArray expected = partHead("Zephyl-X", QStringLiteral("clip.bin"), QStringLiteral("video/mp4")) + bytes +
                                partTail("Zephyl-X");
    EXPECT_EQ(device.size(), expected.size());
    EXPECT_EQ(readAllInPieces(device, 65'536), expected);

    // A repeat of the request reads the same bytes again, from any point.
    ASSERT_TRUE(device.seek(100));
    EXPECT_EQ(readAllInPieces(device, 4096), expected.mid(100));
    ASSERT_TRUE(device.reset());
    EXPECT_EQ(readAllInPieces(device, 1 << 20), expected);

    EXPECT_EQ(MediaSource::fromFile(path + QStringLiteral(".missing")).size(), -1);
    EXPECT_EQ(MediaSource::fromFile(path + QStringLiteral(".missing")).open(), nullptr);
}

TEST(Multipart, DirectThresholdAndUploadAddresses)
{
    EXPECT_FALSE(goesDirect(0));
    EXPECT_FALSE(goesDirect(3'145'728));
    EXPECT_TRUE(goesDirect(3'145'729));

    EXPECT_TRUE(isUsableUploadAddress(QStringLiteral("https://uploads.example.com/put/abc?sig=1")));
    EXPECT_TRUE(isUsableUploadAddress(QStringLiteral("HTTPS://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("http://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("ftp://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("/relative/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("not a url")));
    EXPECT_FALSE(isUsableUploadAddress(QString()));
}
