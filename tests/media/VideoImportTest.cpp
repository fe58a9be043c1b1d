// Videos: which clips go up unchanged and which are converted, the length and
// size bounds, the poster frame, and damaged, hostile or vanishing files. The
// clips are tiny, made by the ffmpeg tool in each case.

#include "MediaTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

using namespace mediatest;

namespace {

class VideoImport : public ImportTest {
protected:
    QStringList testSource(double seconds, const QString &size = QStringLiteral("64x48"), int rate = 10) const
    {
        return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-t"), QString::number(seconds),
                QStringLiteral("-i"), QStringLiteral("testsrc=size=%1:rate=%2").arg(size).arg(rate)};
    }
    static QStringList tone(double seconds)
    {
        return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds)};
    }
    static QStringList h264() { return {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}; }
    static QStringList hevc(const char *tag)
    {
        return {"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=none", "-tag:v", tag};
    }
    // The kinds of the top-level boxes of an MPEG-4 file, in order.
    static QStringList boxes(const QByteArray &file)
    {
        QStringList kinds;
        for (qsizetype at = 0; at + 8 <= file.size();) {
            const quint32 size = qFromBigEndian<quint32>(file.constData() + at);
            kinds << QString::fromLatin1(file.mid(at + 4, 4));
            if (size < 8)
                break;
            at += size;
        }
        return kinds;
    }
};

} // namespace

TEST_F(VideoImport, Mpeg4WithAvc1OrHvc1GoesUpUnchanged)
{
    const QString avc = clip(QStringLiteral("clip.mp4"), testSource(2) + h264());
    const ImportedMedia media = imported(avc);
    EXPECT_EQ(media.kind, ImportedMedia::Kind::video);
    EXPECT_EQ(media.fileName, QStringLiteral("clip.mp4"));
    EXPECT_EQ(media.contentType, QStringLiteral("video/mp4"));
    EXPECT_TRUE(media.data.isFile());
    EXPECT_EQ(media.data.readAll(), readFile(avc));
    ASSERT_TRUE(media.duration.has_value());
    EXPECT_DOUBLE_EQ(*media.duration, 2.0);
    EXPECT_EQ(media.pixelSize, QSizeF(64, 48));
    ASSERT_TRUE(media.thumbnail.has_value());
    EXPECT_EQ(QSize(media.thumbnail->width, media.thumbnail->height), QSize(64, 48));
    ASSERT_TRUE(media.posterData.has_value());
    EXPECT_EQ(decoded(*media.posterData).size(), QSize(64, 48));

    const QString hvc = clip(QStringLiteral("hvc.mp4"), testSource(1) + hevc("hvc1"));
    EXPECT_EQ(imported(hvc).data.readAll(), readFile(hvc));

    // What goes up is the size checked at import: a file that grows afterwards
    // (or while it is imported) is sent only as far as that size.
    const QByteArray original = readFile(avc);
    const auto grow = [](const QString &path) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(4096, 'g'));
    };
    grow(avc);
    // Read as a sender streams it: piece by piece until the reader has no more.
    const auto sent = [](const ImportedMedia &m) {
        QByteArray out;
        const std::unique_ptr<QIODevice> reader = m.data.source().open();
        char piece[1000];
        for (qint64 n; reader && (n = reader->read(piece, sizeof piece)) > 0;)
            out.append(piece, n);
        return out;
    };
    EXPECT_EQ(media.data.source().size(), original.size());
    EXPECT_EQ(sent(media), original);
    EXPECT_EQ(media.data.open()->readAll(), original);
    const QString growing = write(QStringLiteral("growing.mp4"), original);
    limits.afterOpen = grow;
    const ImportedMedia grown = imported(growing);
    limits.afterOpen = nullptr;
    EXPECT_EQ(grown.data.size(), original.size());
    EXPECT_EQ(sent(grown), original);

    // Taken from the descriptor opened at import: the original may go at once.
    ASSERT_TRUE(QFile::remove(avc));
    EXPECT_EQ(media.data.size(), media.data.readAll().size());

    // The poster's sides are rounded, halves away from zero: 48 * 62 / 64 = 46.5.
    limits.posterSide = 62;
    const ImportedMedia small = imported(hvc);
    ASSERT_TRUE(small.thumbnail.has_value());
    EXPECT_EQ(QSize(small.thumbnail->width, small.thumbnail->height), QSize(62, 47));
}

TEST_F(VideoImport, OtherCodecsAndContainersAreConvertedToH264Mp4WithTheMoovFirst)
{
    const QString hev = clip(QStringLiteral("hev.mp4"), testSource(1.5) + tone(1.5) + hevc("hev1")
                                                           + QStringList{"-c:a", "aac", "-shortest"});
    const ImportedMedia media = imported(hev);
    const QByteArray out = media.data.readAll();
    EXPECT_NE(out, readFile(hev));
    EXPECT_EQ(media.fileName, QStringLiteral("hev.mp4"));
    EXPECT_NEAR(*media.duration, 1.5, 0.05);
    const QStringList top = boxes(out);
    ASSERT_GE(top.size(), 3);
    EXPECT_EQ(top.at(0), QStringLiteral("ftyp"));
    EXPECT_LT(top.indexOf(QStringLiteral("moov")), top.indexOf(QStringLiteral("mdat"))) << top.join(' ').toStdString();

    // The converted file is itself what is uploaded unchanged: MPEG-4, avc1, with its sound as AAC.
    const QString again = write(QStringLiteral("again.mp4"), out);
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=codec_name,codec_tag_string",
                                            "-of", "csv=p=0", again});
    ASSERT_TRUE(probe.waitForFinished(60'000));
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              QStringList({"h264,avc1", "aac,mp4a"}));
    const ImportedMedia second = imported(again);
    EXPECT_EQ(second.data.readAll(), out);
    EXPECT_NEAR(*second.duration, 1.5, 0.1);

    // The same H.264 video in a QuickTime movie is converted, and named .mp4.
    const QString mov = clip(QStringLiteral("clip.MOV"),
                             testSource(1) + tone(1) + h264() + QStringList{"-c:a", "pcm_s16le", "-shortest", "-f", "mov"});
    const ImportedMedia fromMov = imported(mov);
    EXPECT_EQ(fromMov.fileName, QStringLiteral("clip.mp4"));
    EXPECT_NE(fromMov.data.readAll(), readFile(mov));
    EXPECT_EQ(boxes(fromMov.data.readAll()).value(0), QStringLiteral("ftyp"));

    // And a WebM.
    const QString webm = clip(QStringLiteral("clip.webm"),
                              testSource(1) + QStringList{"-c:v", "libvpx-vp9", "-deadline", "realtime"});
    EXPECT_EQ(imported(webm).pixelSize, QSizeF(64, 48));
}

TEST_F(VideoImport, LengthBoundIs900SecondsInclusive)
{
    const QStringList tiny = QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
    const ImportedMedia exact = imported(clip(QStringLiteral("exact.mp4"), testSource(900, QStringLiteral("16x16"), 2) + tiny));
    EXPECT_DOUBLE_EQ(*exact.duration, 900.0);

    const MediaImportError over = refused(clip(QStringLiteral("over.mp4"), testSource(900.5, QStringLiteral("16x16"), 2) + tiny));
    EXPECT_EQ(over.kind(), MediaImportError::Kind::videoTooLong);
    EXPECT_EQ(QString::fromUtf8(over.what()), QStringLiteral("over.mp4 is longer than 15 minutes."));
    ASSERT_TRUE(over.seconds().has_value());
    EXPECT_DOUBLE_EQ(*over.seconds(), 900.5);

    // Sixteen hours, one frame every ten minutes: refused from its header, and
    // a QuickTime copy is refused before any conversion starts.
    const QStringList sparse{"-f", "lavfi", "-i", "testsrc=size=16x16:rate=1/600", "-t", "57600"};
    EXPECT_EQ(refused(clip(QStringLiteral("day.mp4"), sparse + tiny)).seconds(), std::optional<double>(57600.0));
    EXPECT_EQ(refused(clip(QStringLiteral("day.mov"), sparse + tiny + QStringList{"-f", "mov"})).kind(),
              MediaImportError::Kind::videoTooLong);
}

TEST_F(VideoImport, SizeBoundAppliesToWhatWouldBeUploaded)
{
    // The bounds moved below, as published: 314,572,800 bytes, 900 s, a poster
    // inside 1080 px.
    const MediaImporter::Limits published;
    EXPECT_EQ(published.largestVideoBytes, 314'572'800);
    EXPECT_EQ(published.longestVideoSeconds, 900.0);
    EXPECT_EQ(published.posterSide, 1080);

    const QString file = clip(QStringLiteral("sized.mp4"), testSource(1) + h264());
    const qint64 size = QFileInfo(file).size();
    limits.largestVideoBytes = size;
    EXPECT_EQ(imported(file).data.size(), size);
    limits.largestVideoBytes = size - 1;
    const MediaImportError over = refused(file);
    EXPECT_EQ(over.kind(), MediaImportError::Kind::videoTooLarge);
    EXPECT_EQ(QString::fromUtf8(over.what()), QStringLiteral("sized.mp4 is over 300 MB."));

    // A conversion stops as soon as its output passes the bound.
    const QString mov = clip(QStringLiteral("big.mov"), testSource(2, QStringLiteral("320x240"), 25) + h264()
                                                             + QStringList{"-f", "mov"});
    limits.largestVideoBytes = 2000;
    EXPECT_EQ(refused(mov).kind(), MediaImportError::Kind::videoTooLarge);
}

TEST_F(VideoImport, QuarterTurnedClipHasAnUprightPosterAndDisplayedSize)
{
    // Stored landscape, red above blue, with a track matrix turning it a quarter clockwise.
    QString file = clip(QStringLiteral("turned.mp4"),
                        QStringList{"-filter_complex",
                                    "color=red:size=64x16:rate=10[a];color=blue:size=64x16:rate=10[b];[a][b]vstack,format=yuv420p",
                                    "-t", "1", "-c:v", "libx264", "-preset", "ultrafast"});
    QByteArray bytes = readFile(file);
    const qsizetype tkhd = bytes.indexOf("tkhd");
    ASSERT_GT(tkhd, 0);
    const qint32 turn[9] = {0, 65536, 0, -65536, 0, 0, 32 << 16, 0, 0x40000000};
    for (int i = 0; i < 9; ++i)
        qToBigEndian<qint32>(turn[i], bytes.data() + tkhd + 44 + i * 4);
    file = write(QStringLiteral("turned.mp4"), bytes);

    const ImportedMedia media = imported(file);
    EXPECT_EQ(media.pixelSize, QSizeF(32, 64));
    ASSERT_TRUE(media.thumbnail.has_value());
    const QImage poster = pictureOf(*media.thumbnail);
    ASSERT_EQ(poster.size(), QSize(32, 64));
    // The ffmpeg tool, turning the frame its own way, is the reference.
    const QString reference = path(QStringLiteral("reference.png"));
    clip(QStringLiteral("reference.png"), QStringList{"-i", file, "-frames:v", "1"});
    const QImage expected(reference);
    ASSERT_EQ(expected.size(), QSize(32, 64));
    for (const QPoint p : {QPoint(4, 32), QPoint(27, 32)}) {
        EXPECT_EQ(isReddish(poster.pixel(p)), isReddish(expected.pixel(p))) << p.x();
        EXPECT_EQ(isBluish(poster.pixel(p)), isBluish(expected.pixel(p))) << p.x();
    }
    EXPECT_TRUE(isReddish(poster.pixel(27, 32)) || isBluish(poster.pixel(27, 32)));
    ASSERT_TRUE(media.posterData.has_value());
    EXPECT_EQ(decoded(*media.posterData).size(), QSize(32, 64));

    // Converted, the turn travels with the video: imported again it shows upright too.
    const QString mov = clip(QStringLiteral("turned.mov"), QStringList{"-i", file, "-c", "copy", "-f", "mov"});
    const ImportedMedia converted = imported(mov);
    EXPECT_EQ(converted.pixelSize, QSizeF(32, 64));
    const ImportedMedia again = imported(write(QStringLiteral("again.mp4"), converted.data.readAll()));
    EXPECT_EQ(again.pixelSize, QSizeF(32, 64));
    ASSERT_TRUE(again.thumbnail.has_value());
    EXPECT_EQ(QSize(again.thumbnail->width, again.thumbnail->height), QSize(32, 64));
}

TEST_F(VideoImport, PosterIsTakenAtHalfASecondOrHalfTheClip)
{
    // Red for the first 0.25 s, blue until `blueEnds`, then green: a 0.6 s clip's
    // poster (0.3 s) and a 10 s clip's (0.5 s) are both blue; the first frame
    // would be red, a frame from either clip's middle, or at 0.5 s of the short
    // one, green.
    const auto colours = [](double seconds, double blueEnds) {
        return QStringList{"-filter_complex",
                           QStringLiteral("color=red:size=32x32:rate=20:duration=0.25[a];"
                                          "color=blue:size=32x32:rate=20:duration=%1[b];"
                                          "color=green:size=32x32:rate=20:duration=%2[c];[a][b][c]concat=n=3,format=yuv420p")
                               .arg(blueEnds - 0.25)
                               .arg(seconds - blueEnds),
                           "-c:v", "libx264", "-preset", "ultrafast", "-g", "100"};
    };
    for (const auto &[seconds, blueEnds] : {std::pair{0.6, 0.4}, std::pair{10.0, 1.0}}) {
        const ImportedMedia media =
            imported(clip(QStringLiteral("poster%1.mp4").arg(seconds), colours(seconds, blueEnds)));
        ASSERT_TRUE(media.thumbnail.has_value()) << seconds;
        EXPECT_TRUE(isBluish(pictureOf(*media.thumbnail).pixel(16, 16))) << seconds;
    }
}

TEST_F(VideoImport, AClipWhosePosterCannotBeMadeIsStillImported)
{
    // The index is whole, the pictures are not: every sample is zeros.
    QByteArray bytes = readFile(clip(QStringLiteral("blank.mp4"), testSource(1) + h264()));
    const qsizetype mdat = bytes.indexOf("mdat");
    ASSERT_GT(mdat, 4);
    const quint32 size = qFromBigEndian<quint32>(bytes.constData() + mdat - 4);
    std::fill(bytes.begin() + mdat + 4, bytes.begin() + mdat - 4 + size, '\0');
    const QString file = write(QStringLiteral("blank.mp4"), bytes);
    const ImportedMedia media = imported(file);
    EXPECT_EQ(media.data.readAll(), bytes);
    EXPECT_FALSE(media.thumbnail.has_value());
    EXPECT_FALSE(media.posterData.has_value());
    EXPECT_EQ(media.pixelSize, QSizeF(64, 48));
}

TEST_F(VideoImport, DamagedEmptyAndTracklessVideosAreRefusedInWords)
{
    const QString audio = clip(QStringLiteral("voice.mp4"), tone(1) + QStringList{"-c:a", "aac"});
    const MediaImportError trackless = refused(audio);
    EXPECT_EQ(QString::fromUtf8(trackless.what()), QStringLiteral("voice.mp4 could not be read."));

    const QString zero = clip(QStringLiteral("zero.mp4"), testSource(1) + h264() + QStringList{"-frames:v", "0"});
    EXPECT_EQ(refused(zero).kind(), MediaImportError::Kind::unreadable);
    EXPECT_EQ(refused(write(QStringLiteral("empty.mov"), {})).kind(), MediaImportError::Kind::unreadable);

    QByteArray junk = QByteArray::fromHex("0000001c667479706d703432") + QByteArray(4000, '\x5a');
    EXPECT_EQ(refused(write(QStringLiteral("junk.mp4"), junk)).kind(), MediaImportError::Kind::unreadable);
    EXPECT_EQ(refused(write(QStringLiteral("words.mov"), QByteArray("hello, this is text\n").repeated(50))).kind(),
              MediaImportError::Kind::unreadable);

    // Cut short, with the index first (its samples point past the end) and last (no index at all).
    const QByteArray fast = readFile(clip(QStringLiteral("fast.mp4"), testSource(2, QStringLiteral("160x120"))
                                                                         + h264() + QStringList{"-movflags", "+faststart"}));
    EXPECT_EQ(refused(write(QStringLiteral("fastcut.mp4"), fast.left(fast.size() * 2 / 3))).kind(),
              MediaImportError::Kind::unreadable);
    const QByteArray slow = readFile(clip(QStringLiteral("slow.mp4"), testSource(2, QStringLiteral("160x120")) + h264()));
    EXPECT_EQ(refused(write(QStringLiteral("slowcut.mp4"), slow.left(slow.size() * 2 / 3))).kind(),
              MediaImportError::Kind::unreadable);
    EXPECT_EQ(refused(write(QStringLiteral("fastcut.mov"), fast.left(fast.size() * 2 / 3))).kind(),
              MediaImportError::Kind::unreadable);

    const QString wide = clip(QStringLiteral("wide.mp4"), testSource(1) + h264());
    limits.largestVideoPixels = 64 * 48;
    EXPECT_EQ(imported(wide).pixelSize, QSizeF(64, 48));
    limits.largestVideoPixels = 64 * 48 - 1;
    EXPECT_EQ(refused(wide).kind(), MediaImportError::Kind::unreadable);
}

TEST_F(VideoImport, AFileThatVanishesOrShrinksMidImport)
{
    const QString file = clip(QStringLiteral("going.mp4"), testSource(1) + h264());
    const QByteArray original = readFile(file);
    limits.afterOpen = [](const QString &path) { QFile::remove(path); };
    const ImportedMedia media = imported(file);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(media.data.readAll(), original);

    const QString mov = clip(QStringLiteral("going.mov"), testSource(1) + h264() + QStringList{"-f", "mov"});
    EXPECT_EQ(imported(mov).fileName, QStringLiteral("going.mp4"));
    EXPECT_FALSE(QFile::exists(mov));

    write(QStringLiteral("shrinking.mp4"), original);
    limits.afterOpen = [](const QString &path) { QFile::resize(path, 100); };
    EXPECT_EQ(refused(path(QStringLiteral("shrinking.mp4"))).kind(), MediaImportError::Kind::unreadable);
}
