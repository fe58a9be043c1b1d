#include "companion/ClipSource.h"

#include "base/Clock.h"

#include <QImageReader>
#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>
#include <vector>

namespace {

// A frame shown for no time at all would spin the loop; players of animated
// pictures show those for a tenth of a second.
double frameSeconds(int delayMs)
{
    if (delayMs <= 10)
        return 0.1;
    return std::min(delayMs, 60'000) / 1000.0;
}

struct Decoded {
    std::vector<QImage> frames;
    std::vector<double> seconds;
};

// Decodes a whole clip within the limits; no frames when it cannot be played.
Decoded decodeClip(const QString &path)
{
    Decoded out;
    QImageReader reader(path, "webp");
    const QSize canvas = reader.size();
    // A broken or absurd header is refused before anything is allocated for it.
    if (!reader.canRead() || canvas.isEmpty() || qint64(canvas.width()) * canvas.height() > WebPClipSource::kMaxFramePixels)
        return out;
    const qint64 frameBytes = qint64(canvas.width()) * canvas.height() * 4;
    if (qint64(std::max(1, reader.imageCount())) * frameBytes > WebPClipSource::kMaxKeptBytes)
        return out;
    qint64 kept = 0;
    for (;;) {
        QImage image;
        if (!reader.read(&image) || image.isNull())
            break; // the end, or a broken frame: play what came before it
        if (image.size() != canvas || (kept += frameBytes) > WebPClipSource::kMaxKeptBytes ||
            int(out.frames.size()) >= WebPClipSource::kMaxFrames)
            return {};
        out.frames.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        out.seconds.push_back(frameSeconds(reader.nextImageDelay()));
        if (!reader.supportsAnimation())
            break;
    }
    return out;
}

class WebPClipPlayer final : public ClipPlayer {
public:
    WebPClipPlayer(const QString &path, Clock &clock) : m_path(path), m_clock(clock) { decode(); }

    bool isReady() const override { return !m_frames.empty(); }

    void restart() override
    {
        m_offset = 0;
        m_startedAt = m_clock.uptime();
        decode();
    }

    void play(double rate) override
    {
        decode();
        if (!std::isfinite(rate) || rate <= 0)
            rate = 1; // a rate that would freeze or reverse the clip plays it as made
        if (m_playing && rate == m_rate)
            return;
        m_offset = elapsed();
        m_startedAt = m_clock.uptime();
        m_rate = rate;
        m_playing = true;
    }

    void pause() override
    {
        if (!m_playing)
            return;
        m_offset = elapsed();
        m_playing = false;
    }

    bool isPlaying() const override { return m_playing; }

    QImage currentFrame() override
    {
        if (m_frames.empty())
            return {};
        return m_frames[frameAt(elapsed())];
    }

    std::optional<double> secondsToNextFrame() const override
    {
        if (m_frames.empty() || !m_playing)
            return std::nullopt;
        const double t = std::fmod(elapsed(), m_loop);
        double end = 0;
        for (double s : m_seconds) {
            end += s;
            if (t < end)
                return (end - t) / m_rate;
        }
        return 0.0;
    }

    qint64 memoryBytes() const override
    {
        qint64 bytes = 0;
        for (const QImage &f : m_frames)
            bytes += f.sizeInBytes();
        return bytes;
    }

    void releaseMemory() override
    {
        m_frames.clear();
        m_seconds.clear();
        m_failed = false; // asked for again, it is decoded again
    }

private:
    // Decodes off the main thread once per need; the frames arrive on the main
    // thread, and only if this player still exists.
    void decode()
    {
        if (!m_frames.empty() || m_decoding || m_failed)
            return;
        m_decoding = true;
        std::weak_ptr<Receiver> receiver = m_receiver;
        const QString path = m_path;
        QThreadPool::globalInstance()->start([receiver, path] {
            auto result = std::make_shared<Decoded>(decodeClip(path));
            QCoreApplication *app = QCoreApplication::instance();
            if (!app)
                return;
            QMetaObject::invokeMethod(
                app,
                [receiver, result] {
                    if (const auto r = receiver.lock())
                        r->owner->decoded(std::move(*result));
                },
                Qt::QueuedConnection);
        });
    }

    void decoded(Decoded result)
    {
        m_decoding = false;
        if (result.frames.empty()) {
            m_failed = true; // a missing or unreadable clip never becomes ready
            return;
        }
        m_frames = std::move(result.frames);
        m_seconds = std::move(result.seconds);
        m_loop = 0;
        for (double s : m_seconds)
            m_loop += s;
        becameReady();
    }

    double elapsed() const
    {
        if (!m_playing)
            return m_offset;
        return m_offset + (m_clock.uptime() - m_startedAt) * m_rate;
    }

    size_t frameAt(double seconds) const
    {
        const double t = std::fmod(std::max(0.0, seconds), m_loop);
        double end = 0;
        for (size_t i = 0; i < m_seconds.size(); ++i) {
            end += m_seconds[i];
            if (t < end)
                return i;
        }
        return m_seconds.size() - 1;
    }

    // What a finished decoding finds on the main thread; gone with the player.
    struct Receiver {
        WebPClipPlayer *owner;
    };

    QString m_path;
    Clock &m_clock;
    std::shared_ptr<Receiver> m_receiver = std::make_shared<Receiver>(Receiver{this});
    bool m_decoding = false;
    bool m_failed = false;
    std::vector<QImage> m_frames;
    std::vector<double> m_seconds;
    double m_loop = 0;
    bool m_playing = false;
    double m_rate = 1;
    double m_offset = 0;
    double m_startedAt = 0;
};

} // namespace

WebPClipSource::WebPClipSource(Clock *clock) : m_clock(clock) {}

std::unique_ptr<ClipPlayer> WebPClipSource::open(const QString &path)
{
    return std::make_unique<WebPClipPlayer>(path, m_clock ? *m_clock : Clock::shared());
}
