#pragma once

#include "companion/ClipSource.h"
#include "companion/CompanionVariant.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

class QPainter;

// The figure of a filmed look: one looping player (a reel) per clip asked for,
// exactly one shown at a time. A newly asked-for clip is shown only once its
// first frame is ready, so a switch never shows a blank frame: until then the
// previous clip stays on screen. Painted through QPainter by its owner, which
// repaints on its own cadence (secondsToNextFrame() says when a new frame is due).
class FilmedFigure {
public:
    // Decoded frames that hidden reels may keep; beyond it the least recently
    // shown let theirs go (they are decoded again when asked for).
    static constexpr qint64 kHiddenBudgetBytes = 8 * 1024 * 1024;

    // Without a source, clips are animated WebP files played on the shared clock.
    explicit FilmedFigure(std::shared_ptr<ClipSource> source = nullptr);
    ~FilmedFigure();
    FilmedFigure(const FilmedFigure &) = delete;
    FilmedFigure &operator=(const FilmedFigure &) = delete;

    // Sets the look. The same look again changes nothing; another look stops and
    // drops every reel.
    void load(const CompanionVariant &look);
    // Shows a clip of the look, mirrored horizontally and tilted by `tilt` degrees
    // (counter-clockwise on screen), playing or held still.
    void show(const CompanionClip &clip, bool mirrored, double tilt, bool paused);
    // Pauses every reel.
    void pauseAll();

    // All of it for one frame of a canvas: the look, the clip and how it shows,
    // then the picture into `frame`.
    void draw(QPainter &painter, const CompanionVariant &look, const CompanionClip &clip, const QRectF &frame,
              bool mirrored, double tilt, bool paused);

    // Draws the shown reel's current frame fitted into `frame` (aspect kept,
    // centred), mirrored and tilted about the frame's centre. Nothing while no
    // reel is shown.
    void paint(QPainter &painter, const QRectF &frame);
    bool hasPicture() const { return m_showing.has_value(); }
    // The shown reel's current picture (its image's cache key); 0 while none is shown.
    qint64 pictureShown();
    // Seconds until the shown picture changes; none while it holds still.
    std::optional<double> secondsToNextFrame() const;

    // Called when another reel has become the one shown (the owner repaints).
    std::function<void()> shownChanged;

    const std::optional<QString> &showing() const { return m_showing; }
    const std::optional<QString> &wanted() const { return m_wanted; }
    bool holdStill() const { return m_holdStill; }
    int reelCount() const { return int(m_reels.size()); }
    const std::optional<CompanionVariant> &variant() const { return m_variant; }

private:
    struct Reel {
        std::unique_ptr<ClipPlayer> player;
        bool visible = false;
        bool mirrored = false;
        double tilt = 0;
        quint64 lastShown = 0;
        // Its frames made once at the size on screen (and mirrored), keyed by
        // frame, width, height and mirroring: a walk blits them, not resamples.
        std::map<std::tuple<qint64, int, int, bool>, QImage> fitted;
    };
    static constexpr size_t kFittedLimit = 96;

    Reel *reelFor(const CompanionClip &clip);
    void reveal(const QString &file);
    void stopWaiting();
    void trimHidden();

    std::shared_ptr<ClipSource> m_source;
    std::optional<CompanionVariant> m_variant;
    std::map<QString, Reel> m_reels;
    std::optional<QString> m_showing;
    std::optional<QString> m_wanted;
    bool m_holdStill = false;
    quint64 m_reveals = 0;
};
