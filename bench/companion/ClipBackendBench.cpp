// Compares three ways to play a looping cat clip with an alpha channel, on the
// same footage (a clip of the bundled looks, converted):
//   1. animated WebP decoded by Qt's image plugin (QImageReader),
//   2. VP9 with alpha in WebM played by QtMultimedia (GStreamer) into a video sink,
//   3. the same WebM decoded by FFmpeg's libvpx-vp9 decoder.
// For each: CPU time per frame, memory, whether alpha survives, and the loop.
// Then what the chosen one costs a canvas: FilmedFigure drawing a bundled clip
// per frame at 1x and 2x, and the memory of a look's reels.
//
//   QT_QPA_PLATFORM=offscreen clip_backend_bench [clip.webp]   (needs ffmpeg on PATH)

#include "companion/CompanionLibrary.h"
#include "companion/FilmedFigure.h"

#include <QCoreApplication>
#include <QPainter>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMediaPlayer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

// Alpha kept: a corner is clear and the middle of the cat is opaque.
bool alphaKept(const QImage &image, QPoint opaque)
{
    const QImage a = image.convertToFormat(QImage::Format_ARGB32);
    return qAlpha(a.pixel(1, 1)) < 16 && qAlpha(a.pixel(opaque)) > 240;
}

struct WebPResult {
    int frames = 0;
    double decodeMsPerFrame = 0;
    double framesMiB = 0;
    bool alpha = false;
    std::vector<int> delays;
};

WebPResult webp(const QString &path, QPoint opaque, const QString &pngDir)
{
    WebPResult r;
    const int passes = 20;
    QElapsedTimer t;
    double cpu0 = cpuSeconds();
    t.start();
    std::vector<QImage> frames;
    for (int pass = 0; pass < passes; ++pass) {
        QImageReader reader(path, "webp");
        frames.clear();
        r.delays.clear();
        while (true) {
            QImage image = reader.read();
            if (image.isNull())
                break;
            frames.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            r.delays.push_back(reader.nextImageDelay());
        }
    }
    const double cpu = cpuSeconds() - cpu0;
    r.frames = int(frames.size());
    r.decodeMsPerFrame = cpu * 1000 / (passes * std::max(1, r.frames));
    for (const QImage &f : frames)
        r.framesMiB += f.sizeInBytes() / 1048576.0;
    r.alpha = !frames.empty() && alphaKept(frames.front(), opaque);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i].save(pngDir + QStringLiteral("/f%1.png").arg(i, 4, 10, QLatin1Char('0')));
    return r;
}

struct PlayerResult {
    int frames = 0;
    double seconds = 0;
    double cpuMsPerFrame = 0;
    double convertMsPerFrame = 0;
    long rssDeltaKiB = 0;
    bool alpha = false;
    double nominalGapMs = 0;
    double worstGapMs = 0;
    int loopsSeen = 0;
};

PlayerResult qtMultimedia(const QString &webm, QPoint opaque, double fps, double seconds)
{
    PlayerResult r;
    const long rss0 = rssKiB();
    QMediaPlayer player;
    QVideoSink sink;
    player.setVideoSink(&sink);
    player.setLoops(QMediaPlayer::Infinite);
    QElapsedTimer wall;
    qint64 last = -1;
    qint64 lastStart = -1;
    double convertMs = 0;
    QObject::connect(&sink, &QVideoSink::videoFrameChanged, &sink, [&](const QVideoFrame &frame) {
        if (!frame.isValid())
            return;
        const qint64 now = wall.nsecsElapsed();
        if (last >= 0)
            r.worstGapMs = std::max(r.worstGapMs, (now - last) / 1e6);
        last = now;
        if (frame.startTime() >= 0 && frame.startTime() < lastStart)
            ++r.loopsSeen;
        lastStart = frame.startTime();
        ++r.frames;
        // The canvas paints a QImage: the conversion is part of each frame's cost.
        QElapsedTimer c;
        c.start();
        const QImage image = frame.toImage();
        convertMs += c.nsecsElapsed() / 1e6;
        if (r.frames == 5)
            r.alpha = alphaKept(image, opaque);
    });
    player.setSource(QUrl::fromLocalFile(webm));
    const double cpu0 = cpuSeconds();
    wall.start();
    player.play();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    r.seconds = wall.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    r.rssDeltaKiB = rssKiB() - rss0;
    player.stop();
    r.cpuMsPerFrame = cpu * 1000 / std::max(1, r.frames);
    r.convertMsPerFrame = convertMs / std::max(1, r.frames);
    r.nominalGapMs = 1000 / fps;
    return r;
}

struct FFmpegResult {
    int frames = 0;
    double decodeMsPerFrame = 0;
    double convertMsPerFrame = 0;
    bool alpha = false;
    const char *pixelFormat = "";
};

FFmpegResult ffmpegDecode(const QString &webm, QPoint opaque)
{
    FFmpegResult r;
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, webm.toUtf8().constData(), nullptr, nullptr) < 0)
        return r;
    avformat_find_stream_info(format, nullptr);
    const AVCodec *codec = avcodec_find_decoder_by_name("libvpx-vp9");
    AVCodecContext *context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, format->streams[0]->codecpar);
    avcodec_open2(context, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    SwsContext *scale = nullptr;
    double decodeCpu = 0, convertCpu = 0;
    const int passes = 20;
    for (int pass = 0; pass < passes; ++pass) {
        av_seek_frame(format, 0, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(context);
        while (av_read_frame(format, packet) >= 0) {
            double c0 = cpuSeconds();
            avcodec_send_packet(context, packet);
            av_packet_unref(packet);
            while (avcodec_receive_frame(context, frame) == 0) {
                decodeCpu += cpuSeconds() - c0;
                c0 = cpuSeconds();
                // Scaler output gets FFmpeg's own padded buffer; it may write past a row's end.
                AVFrame *bgra = av_frame_alloc();
                bgra->format = AV_PIX_FMT_BGRA;
                bgra->width = frame->width;
                bgra->height = frame->height;
                av_frame_get_buffer(bgra, 64);
                if (!scale)
                    scale = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                           frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
                sws_scale(scale, frame->data, frame->linesize, 0, frame->height, bgra->data, bgra->linesize);
                const QImage image = QImage(bgra->data[0], frame->width, frame->height, bgra->linesize[0],
                                            QImage::Format_ARGB32).copy();
                av_frame_free(&bgra);
                convertCpu += cpuSeconds() - c0;
                if (pass == 0) {
                    ++r.frames;
                    r.pixelFormat = av_get_pix_fmt_name(AVPixelFormat(frame->format));
                    if (r.frames == 1)
                        r.alpha = alphaKept(image, opaque);
                }
                c0 = cpuSeconds();
            }
        }
    }
    r.decodeMsPerFrame = decodeCpu * 1000 / (passes * std::max(1, r.frames));
    r.convertMsPerFrame = convertCpu * 1000 / (passes * std::max(1, r.frames));
    sws_freeContext(scale);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return r;
}

// CPU milliseconds for one frame of a canvas drawing the look's walk clip.
double filmedPaintMs(const CompanionVariant &look, double scale)
{
    FilmedFigure figure;
    const CompanionClip clip = *look.clip(CompanionState::walk);
    QImage target(int(300 * scale), int(200 * scale), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
    const QRectF frame(100.3, 50.7, clip.drawnWidth(), clip.height);
    auto once = [&] {
        QPainter p(&target);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(frame.adjusted(-2, -2, 2, 2), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        figure.draw(p, look, clip, frame, false, 0, false);
    };
    QElapsedTimer wait;
    wait.start();
    while (figure.showing() != clip.file && wait.elapsed() < 10000) {
        once();
        QCoreApplication::processEvents();
    }
    const int n = 3000;
    const double cpu0 = cpuSeconds();
    for (int i = 0; i < n; ++i)
        once();
    return (cpuSeconds() - cpu0) * 1000 / n;
}

// Resident memory taken by a figure that has shown every clip of the look (its
// hidden reels trimmed to the figure's budget).
long filmedMemory(const CompanionVariant &look)
{
    const long rss0 = rssKiB();
    auto figure = std::make_unique<FilmedFigure>();
    figure->load(look);
    for (const auto &[name, clip] : look.clips) {
        figure->show(clip, false, 0, false);
        QElapsedTimer wait;
        wait.start();
        while (figure->showing() != clip.file && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return rssKiB() - rss0;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString clip = args.value(0, QStringLiteral(ZK_BUNDLE_CATS "/ginger/idle.webp"));
    // The middle of the cat's body in the bundled clips' frames.
    const QPoint opaque(args.value(1, QStringLiteral("90")).toInt(), args.value(2, QStringLiteral("110")).toInt());
    QTemporaryDir dir;

    const WebPResult w = webp(clip, opaque, dir.path());
    double total = 0;
    for (int d : w.delays)
        total += d;
    const double fps = w.frames * 1000.0 / std::max(1.0, total);
    std::printf("clip %s: %d frames, %.1f fps, loop %.0f ms\n", qPrintable(clip), w.frames, fps, total);
    std::printf("webp (QImageReader): decode %.3f ms/frame CPU, all frames decoded %.2f MiB, alpha %s, file %lld KiB\n",
                w.decodeMsPerFrame, w.framesMiB, w.alpha ? "kept" : "LOST", QFileInfo(clip).size() / 1024);

    const QString webm = dir.path() + QStringLiteral("/clip.webm");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-framerate"), QString::number(fps),
                  QStringLiteral("-i"), dir.path() + QStringLiteral("/f%04d.png"), QStringLiteral("-c:v"),
                  QStringLiteral("libvpx-vp9"), QStringLiteral("-pix_fmt"), QStringLiteral("yuva420p"),
                  QStringLiteral("-b:v"), QStringLiteral("0"), QStringLiteral("-crf"), QStringLiteral("30"),
                  QStringLiteral("-auto-alt-ref"), QStringLiteral("0"), webm});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        std::printf("ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return 1;
    }
    std::printf("webm (VP9 + alpha, crf 30): file %lld KiB\n", QFileInfo(webm).size() / 1024);

    const FFmpegResult f = ffmpegDecode(webm, opaque);
    std::printf("ffmpeg libvpx-vp9: %d frames as %s, decode %.3f ms/frame CPU, to BGRA %.3f ms/frame, alpha %s\n",
                f.frames, f.pixelFormat, f.decodeMsPerFrame, f.convertMsPerFrame, f.alpha ? "kept" : "LOST");

    const double seconds = args.value(3, QStringLiteral("10")).toDouble();
    const PlayerResult q = qtMultimedia(webm, opaque, fps, seconds);
    std::printf("qt multimedia (GStreamer): %d frames in %.1f s, %.3f ms CPU/frame (all threads), toImage %.3f ms, "
                "RSS +%ld KiB, alpha %s, loops seen %d, worst gap %.0f ms (nominal %.0f)\n",
                q.frames, q.seconds, q.cpuMsPerFrame, q.convertMsPerFrame, q.rssDeltaKiB, q.alpha ? "kept" : "LOST",
                q.loopsSeen, q.worstGapMs, q.nominalGapMs);

    const CompanionVariant look = CompanionLibrary::variant(QStringLiteral("ginger"));
    if (look.isFilmed()) {
        std::printf("FilmedFigure (WebP reels) drawing the walk clip: %.3f ms/frame at 1x, %.3f ms/frame at 2x\n",
                    filmedPaintMs(look, 1), filmedPaintMs(look, 2));
        std::printf("FilmedFigure after showing all %zu clips of a look: RSS +%ld KiB (hidden reels trimmed to %lld KiB)\n",
                    look.clips.size(), filmedMemory(look), FilmedFigure::kHiddenBudgetBytes / 1024);
    }
    return 0;
}
