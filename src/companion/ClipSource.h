#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class Clock;

// One looping, silent clip being played: what a filmed figure keeps per clip.
// Its position follows the clock while it plays; it holds still while paused.
class ClipPlayer {
public:
    virtual ~ClipPlayer() = default;

    // True once a first frame can be drawn. A missing or unreadable clip never is.
    virtual bool isReady() const = 0;
    // Called once when a clip that was not ready becomes ready (on the main thread).
    void setReadyCallback(std::function<void()> callback) { m_ready = std::move(callback); }
    void clearReadyCallback() { m_ready = nullptr; }

    // Back to the first frame.
    virtual void restart() = 0;
    // Plays on from where it is, `rate` times the clip's own speed.
    virtual void play(double rate) = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    // The frame due now; null while not ready.
    virtual QImage currentFrame() = 0;
    // Seconds until the frame due now is replaced; none while paused or not ready.
    virtual std::optional<double> secondsToNextFrame() const = 0;

    // Decoded pictures it holds, and a way to let them go (they are made again
    // when needed).
    virtual qint64 memoryBytes() const { return 0; }
    virtual void releaseMemory() {}

protected:
    void becameReady()
    {
        // Once: the callback may well clear or replace itself.
        const auto callback = std::exchange(m_ready, nullptr);
        if (callback)
            callback();
    }

private:
    std::function<void()> m_ready;
};

// Opens clips by file path.
class ClipSource {
public:
    virtual ~ClipSource() = default;
    virtual std::unique_ptr<ClipPlayer> open(const QString &path) = 0;
};

// Looping animated WebP with alpha through Qt's image plugin. A clip is decoded
// whole, off the main thread, when it is first asked for, and its frames are
// kept: playing it costs a blit per frame and no decoding. A clip whose frames
// would exceed the limits below is not played (it never becomes ready).
class WebPClipSource final : public ClipSource {
public:
    // The largest picture a clip frame may be, and what one clip's decoded frames
    // may take.
    static constexpr qint64 kMaxFramePixels = 2048 * 2048;
    static constexpr qint64 kMaxKeptBytes = 16 * 1024 * 1024;
    static constexpr int kMaxFrames = 2000;

    explicit WebPClipSource(Clock *clock = nullptr);
    std::unique_ptr<ClipPlayer> open(const QString &path) override;

private:
    Clock *m_clock;
};
