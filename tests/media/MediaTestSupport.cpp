#include "MediaTestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>

namespace mediatest {

void ImportTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_temporary = m_dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(m_temporary));
    limits.temporaryDirectory = m_temporary;
}

void ImportTest::TearDown() { EXPECT_EQ(leftovers(), QStringList()); }

QStringList ImportTest::leftovers() const
{
    return QDir(m_temporary).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

QString ImportTest::write(const QString &name, const QByteArray &bytes) const
{
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
}

QString ImportTest::writeImage(const QString &name, const QImage &image, const char *format, int quality) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return write(name, bytes);
}

QString ImportTest::clip(const QString &name, const QStringList &arguments) const
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    const QString out = path(name);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
                             QStringLiteral("-y")}
                     + arguments + QStringList{out});
    EXPECT_TRUE(ffmpeg.waitForFinished(120'000));
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAll().toStdString();
    return out;
}

ImportedMedia ImportTest::imported(const QString &file)
{
    auto outcome = MediaImporter::importNow(file, limits);
    if (auto *error = std::get_if<MediaImportError>(&outcome)) {
        ADD_FAILURE() << "refused: " << error->what();
        return {};
    }
    return std::get<ImportedMedia>(std::move(outcome));
}

MediaImportError ImportTest::refused(const QString &file)
{
    auto outcome = MediaImporter::importNow(file, limits);
    if (auto *error = std::get_if<MediaImportError>(&outcome))
        return *error;
    ADD_FAILURE() << "imported " << file.toStdString();
    return MediaImportError::unreadable(QString());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage decoded(const QByteArray &bytes) { return QImage::fromData(bytes); }

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

QImage pictureOf(const MediaThumbnail &thumb) { return MediaImporter::thumbnailImage(thumb).copy(); }

bool isReddish(QRgb c) { return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80; }
bool isBluish(QRgb c) { return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80; }

} // namespace mediatest
