#pragma once

#include "companion/CompanionFigure.h"
#include "companion/CompanionVariant.h"
#include "companion/ShadowPainter.h"
#include "companion/SpeechBubble.h"

#include <QByteArray>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

// Where a filmed clip is drawn: its centre in canvas coordinates (top-left
// origin, y down), mirrored or not, and turned by `tilt` degrees.
struct FilmedPlacement {
    CompanionClip clip;
    QPointF center;
    bool mirrored = false;
    double tilt = 0;
};

// Draws a filmed look's clip. The drawn figure needs none; a filmed look draws
// through one of these, which the application installs on the controller.
class FilmedFigurePainter {
public:
    virtual ~FilmedFigurePainter() = default;
    // Paints the current frame of the placement's clip into `frame` (canvas
    // coordinates); `paused` holds the film still.
    virtual void paint(QPainter &painter, const CompanionVariant &variant, const FilmedPlacement &placement,
                       const QRectF &frame, bool paused) = 0;
    // Which of the film's pictures a paint would show now: the same value while
    // the film holds a frame. 0 when unknown (every paint may differ).
    virtual qint64 pictureShown() { return 0; }
    // Readies what paint() would show (the look, the clip, playing or held)
    // without painting, so that pictureShown() answers for this placement.
    virtual void prepare(const CompanionVariant &variant, const FilmedPlacement &placement, bool paused)
    {
        (void)variant;
        (void)placement;
        (void)paused;
    }
};

// Where one screen's canvas puts the cat and its bubble. Pure geometry: the
// screen's frame is in global points, y up; everything returned is in the
// canvas's own coordinates, origin top-left, y down.
struct CanvasScene {
    static constexpr double kBubbleWidth = 300;
    static constexpr double kBubbleHeight = 150;
    static constexpr double kBubbleInset = 158;
    static constexpr double kBubbleTail = 9;

    bool catShown = false; // the cat is near this screen
    QPointF local;         // the feet in canvas coordinates
    // The figure's frame: 84 x 62 for the drawn look, the clip's size for a filmed one.
    QRectF figureFrame;
    std::optional<FilmedPlacement> filmed;

    struct Bubble {
        QRectF frame; // the 300 x 150 frame the bubble is aligned in
        // Bottom: above the cat; top: below it; leading or trailing: beside it,
        // right or left, with no tail.
        BubbleShape::Edge tailEdge = BubbleShape::Edge::bottom;
        double tailOffset = 0;
        double anchorX = 0;
        // The bubble's own rectangle inside the frame, for a bubble of `size`:
        // at the frame's top below the cat, else at its bottom.
        QRectF rectFor(const QSizeF &size) const;
    };
    std::optional<Bubble> bubble;

    // `keepClear`: what the bubble must not cover (global points, y up), such as
    // the panel the cat sits on; where the usual place above or below the cat
    // would, the bubble goes beside it. `bubbleSize`: the bubble's own size,
    // when known.
    static CanvasScene layout(const QRectF &screenFrame, const QSizeF &canvasSize, const CompanionPose &pose,
                              const CompanionVariant &variant, const std::optional<QRectF> &nestFrame,
                              bool withBubble, const std::vector<QRectF> &keepClear = {},
                              const std::optional<QSizeF> &bubbleSize = std::nullopt);

private:
    static Bubble clearOf(const Bubble &usual, const std::vector<QRectF> &keepClear, const QRectF &screenFrame,
                          const QSizeF &canvasSize, const QSizeF &size, const QRectF &figure, double ground);
};

// The cat's hit area in global points (y up): presses, the pointer test and the
// accessibility frame use it. `excluded` is the part that does not count for
// presses (the focus timer panel stays clickable). `feet` is where the cat is
// seen to stand: its position, but for a nest drawn on the focus timer.
struct CatHitArea {
    QRectF rect;
    std::optional<QRectF> excluded;
    QPointF feet;
    bool contains(const QPointF &p) const { return rect.contains(p) && !(excluded && excluded->contains(p)); }

    static CatHitArea of(const CompanionPose &pose, const QSizeF &size, const CompanionVariant &variant,
                         const std::optional<QRectF> &nestFrame);
};

// Paints one screen's scene: the figure and the bubble, the bubble at
// `bubbleOpacity`. Keeps the finished figure image while the pose stays the
// same, and the bubble's text while it fades out.
class CanvasPainter {
public:
    void setFilmedPainter(std::shared_ptr<FilmedFigurePainter> painter) { m_filmed = std::move(painter); }

    void paint(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose,
               const CompanionVariant &variant, const QString &bubbleText, double bubbleOpacity, bool paused,
               const QRect &dirty);

    // The canvas pixels the scene's figure and bubble may touch (shadows included).
    static QRect figureReach(const CanvasScene &scene);
    static QRect bubbleReach(const CanvasScene &scene, const QString &text);
    static QSizeF bubbleSize(const QString &text, BubbleShape::Edge edge);

    // One part of the scene as a picture of its own, the figure or the bubble:
    // the canvas pixels it covers (on whole pixels, so the same picture serves
    // wherever the part goes) and what tells it apart from every other picture
    // of that part. The same key means the same pixels; an empty key, a picture
    // not worth keeping (a tilted film between pixels). `blank`: nothing to draw.
    struct Piece {
        QRect rect;
        QByteArray key;
        bool blank = false;
    };
    static QRect figureRect(const CanvasScene &scene);
    static QRect bubbleRect(const CanvasScene &scene, const QString &text);
    Piece figurePiece(const CanvasScene &scene, const CompanionPose &pose, const CompanionVariant &variant,
                      bool paused);
    static Piece bubblePiece(const CanvasScene &scene, const QString &text, double opacity);
    // Paints only that part, in canvas coordinates.
    void paintFigure(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose,
                     const CompanionVariant &variant, bool paused);
    static void paintBubble(QPainter &painter, const CanvasScene &scene, const QString &text, double opacity);

    // Whether the drawn figure shows the two poses as the same picture
    // (`paused`: the cat sleeps with the user away).
    static bool sameDrawing(const CompanionPose &a, const CompanionPose &b, bool paused = false);

    // How many finished pictures of the drawn figure are kept at most: here,
    // or (setPictureLimit) fewer where another keeps them, as an X server does.
    static constexpr int kPictureLimit = 72;
    void setPictureLimit(int limit);
    int pictureCount() const { return int(m_pictures.size()); }
    // Pictures painted so far (each a path drawing and its blurs).
    int picturesPainted() const { return m_painted; }

private:
    // The drawn figure as it is drawn: its pose with the continuous parts
    // (phase, progress, gaze) in steps too fine to see. Walking, sleeping or
    // sitting, the cat goes round the same few dozen pictures.
    struct PoseKey {
        int state = 0;
        bool left = false;
        int phase = 0;
        int phaseSteps = 0;
        int progress = 0;
        bool blink = false;
        int gazeX = 0, gazeY = 0;
        int band = 0;
        auto operator<=>(const PoseKey &) const = default;
    };
    struct Picture {
        ShadowPainter::Cache cache;
        quint64 used = 0;
    };
    static PoseKey keyOf(const CompanionPose &pose, bool paused);
    static CompanionPose drawnPose(const CompanionPose &pose, const PoseKey &key);
    void paintDrawn(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose, bool paused);
    void dropOldest();

    std::shared_ptr<FilmedFigurePainter> m_filmed;
    std::map<PoseKey, Picture> m_pictures;
    quint64 m_uses = 0;
    int m_limit = kPictureLimit;
    int m_painted = 0;
    QColor m_cachedMarks;
};
