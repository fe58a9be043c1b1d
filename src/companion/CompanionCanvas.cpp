#include "companion/CompanionCanvas.h"

#include "design/PaletteColors.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Pixels a drawing may reach past its frame: the figure's overflow and shadows,
// the bubble's soft shadow, and a pixel for rounding each way.
constexpr int kFigureReach = int(CompanionFigure::kOverflow) + 12;
constexpr int kBubbleReach = 24;

QRect outward(const QRectF &r, int by)
{
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
        return {};
    const QRectF grown = r.adjusted(-by, -by, by, by);
    const double lo = -1e6, hi = 1e6; // far outside any screen, and inside int
    const int x0 = int(std::floor(std::clamp(grown.left(), lo, hi)));
    const int y0 = int(std::floor(std::clamp(grown.top(), lo, hi)));
    const int x1 = int(std::ceil(std::clamp(grown.right(), lo, hi)));
    const int y1 = int(std::ceil(std::clamp(grown.bottom(), lo, hi)));
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}

bool tiltedState(CompanionState s)
{
    return s == CompanionState::jump || s == CompanionState::fall || s == CompanionState::carried;
}

// A filmed look's nest clip is drawn with its prop (the cushion) on the middle
// of the focus timer's top edge, wherever the cat's position is: the clip's
// rectangle in global points (y up), or none when the cat is drawn at its position.
std::optional<QRectF> nestedClipRect(const CompanionPose &pose, const CompanionVariant &variant,
                                     const std::optional<QRectF> &nestFrame)
{
    if (pose.state != CompanionState::nest || !nestFrame)
        return std::nullopt;
    const std::optional<CompanionClip> clip = variant.clip(CompanionState::nest);
    if (!clip || !clip->prop)
        return std::nullopt;
    const double h = clip->height, w = clip->drawnWidth();
    return QRectF(nestFrame->center().x() - clip->prop->centerX * w, geo::maxY(*nestFrame) - h + clip->prop->top * h, w,
                  h);
}

} // namespace

QRectF CanvasScene::Bubble::rectFor(const QSizeF &size) const
{
    // On whole points: a bubble that travels with a walking cat is then the same
    // finished image blitted again, not drawn and blurred anew every frame.
    const double left = std::round(frame.center().x() - size.width() / 2);
    const double top = std::round(tailEdge == BubbleShape::Edge::top ? frame.top() : frame.bottom() - size.height());
    return QRectF(left, top, size.width(), size.height());
}

CanvasScene CanvasScene::layout(const QRectF &screenFrame, const QSizeF &canvasSize, const CompanionPose &pose,
                                const CompanionVariant &variant, const std::optional<QRectF> &nestFrame,
                                bool withBubble, const std::vector<QRectF> &keepClear,
                                const std::optional<QSizeF> &bubbleSize)
{
    CanvasScene scene;
    const double x = pose.position.x(), y = pose.position.y();
    const double height = canvasSize.height(), width = canvasSize.width();
    const bool near = x >= screenFrame.left() - 60 && x <= screenFrame.right() + 60 &&
                      y >= geo::minY(screenFrame) - 200 && y <= geo::maxY(screenFrame) + 400;
    if (!near)
        return scene;
    scene.catShown = true;
    const double lx = x - screenFrame.left(), ly = height - (y - geo::minY(screenFrame));
    scene.local = QPointF(lx, ly);

    double top = ly - CompanionFigure::kHeight, bottom = ly, anchor = lx;
    const std::optional<CompanionClip> clip = variant.clip(pose.state);
    const std::optional<QRectF> nestedRect = nestedClipRect(pose, variant, nestFrame);
    if (clip) {
        const double h = clip->height, w = clip->drawnWidth();
        FilmedPlacement placement{*clip, {}, false, 0};
        const bool nested = pose.state == CompanionState::nest;
        if (nestedRect) {
            placement.center = QPointF(nestedRect->center().x() - screenFrame.left(),
                                       height - (geo::maxY(*nestedRect) - geo::minY(screenFrame)) + h / 2);
        } else {
            placement.center = QPointF(lx, ly - clip->floor * h + h / 2 + clip->sink.value_or(0));
            if (!nested) {
                const bool still = pose.state == CompanionState::sleep || pose.state == CompanionState::perch;
                placement.mirrored = !still && pose.facing != clip->facing;
                if (tiltedState(pose.state))
                    placement.tilt = pose.verticalSpeed > 40 ? 16 : pose.verticalSpeed < -40 ? -12 : 0;
            }
        }
        scene.figureFrame = QRectF(placement.center.x() - w / 2, placement.center.y() - h / 2, w, h);
        top = placement.center.y() - h / 2;
        bottom = placement.center.y() + h / 2;
        anchor = placement.center.x();
        scene.filmed = placement;
    } else {
        scene.figureFrame = QRectF(lx - CompanionFigure::kWidth / 2, ly - CompanionFigure::kHeight,
                                   CompanionFigure::kWidth, CompanionFigure::kHeight);
    }

    if (withBubble) {
        Bubble b;
        const double bx = std::min(std::max(anchor, kBubbleInset), std::max(width - kBubbleInset, kBubbleInset));
        double cy;
        if (top - kBubbleHeight >= 8) {
            b.tailEdge = BubbleShape::Edge::bottom;
            cy = top - 4 - kBubbleHeight / 2;
        } else {
            b.tailEdge = BubbleShape::Edge::top;
            cy = bottom + 4 + kBubbleHeight / 2;
        }
        b.frame = QRectF(bx - kBubbleWidth / 2, cy - kBubbleHeight / 2, kBubbleWidth, kBubbleHeight);
        b.anchorX = anchor;
        b.tailOffset = anchor - bx;
        // The paws' line: the top of the timer for a nest drawn on it.
        const double ground = nestedRect ? height - (geo::maxY(*nestFrame) - geo::minY(screenFrame)) : ly;
        scene.bubble = clearOf(b, keepClear, screenFrame, QSizeF(width, height),
                               bubbleSize.value_or(QSizeF(kBubbleWidth, kBubbleHeight)), scene.figureFrame, ground);
    }
    return scene;
}

CanvasScene::Bubble CanvasScene::clearOf(const Bubble &usual, const std::vector<QRectF> &keepClear,
                                         const QRectF &screenFrame, const QSizeF &canvasSize, const QSizeF &size,
                                         const QRectF &figure, double ground)
{
    // The rectangles to keep clear, in the canvas's coordinates.
    std::vector<QRectF> clear;
    for (const QRectF &r : keepClear)
        clear.emplace_back(r.left() - screenFrame.left(), canvasSize.height() - (geo::maxY(r) - geo::minY(screenFrame)),
                           r.width(), r.height());
    const auto covers = [&](const Bubble &b) {
        const QRectF drawn = b.rectFor(size);
        return std::any_of(clear.begin(), clear.end(), [&](const QRectF &r) { return r.intersects(drawn); });
    };
    if (!covers(usual))
        return usual;
    const auto fits = [&](const Bubble &b) {
        const QRectF drawn = b.rectFor(size);
        return !covers(b) && drawn.left() >= 8 && drawn.top() >= 8 && drawn.right() <= canvasSize.width() - 8 &&
               drawn.bottom() <= canvasSize.height() - 8;
    };
    // Beside, to the right of `edge` or to its left, 4 points away, with its
    // bottom at `bottom` (rectFor aligns it to the frame's bottom). No tail:
    // level with the cat, a tail would point at nothing.
    const auto beside = [&](bool right, double edge, double bottom) {
        Bubble b = usual;
        b.tailEdge = right ? BubbleShape::Edge::leading : BubbleShape::Edge::trailing;
        b.tailOffset = 0;
        const double cx = right ? edge + 4 + size.width() / 2 : edge - 4 - size.width() / 2;
        b.frame = QRectF(cx - kBubbleWidth / 2, bottom - kBubbleHeight, kBubbleWidth, kBubbleHeight);
        return b;
    };
    // The roomier side of the screen first.
    const bool rightFirst = usual.anchorX < canvasSize.width() / 2;
    for (const bool right : {rightFirst, !rightFirst}) {
        // Level with the cat, just above the line its paws stand on (the
        // bubble is put on whole points).
        const Bubble b = beside(right, right ? figure.right() : figure.left(), ground - 2);
        if (fits(b))
            return b;
    }
    // No room there (a panel high on the screen): beside what the usual
    // place covers, level with the cat's head, on the cat's side of it first.
    const QRectF covered = usual.rectFor(size);
    for (const QRectF &r : clear) {
        if (!r.intersects(covered))
            continue;
        const bool catsSide = usual.anchorX > r.center().x();
        for (const bool right : {catsSide, !catsSide}) {
            const Bubble b = beside(right, right ? r.right() : r.left(), std::max(8.0, figure.top()) + size.height());
            if (fits(b))
                return b;
        }
    }
    return usual;
}

CatHitArea CatHitArea::of(const CompanionPose &pose, const QSizeF &size, const CompanionVariant &variant,
                          const std::optional<QRectF> &nestFrame)
{
    CatHitArea area;
    if (const std::optional<QRectF> r = nestedClipRect(pose, variant, nestFrame)) {
        area.rect = r->adjusted(-6, -6, 6, 6);
        area.excluded = nestFrame;
        // Where the clip would stand had it been placed by its floor line: a
        // drag from here keeps the cat where the pointer took hold of it.
        const CompanionClip clip = *variant.clip(CompanionState::nest);
        area.feet = QPointF(r->center().x(), geo::maxY(*r) - clip.floor * clip.height + clip.sink.value_or(0));
        return area;
    }
    const double w = std::max(0.0, size.width()), h = std::max(0.0, size.height());
    area.rect = QRectF(pose.position.x() - w / 2, pose.position.y(), w, h).adjusted(-8, -8, 8, 8);
    area.feet = pose.position;
    return area;
}

QSizeF CanvasPainter::bubbleSize(const QString &text, BubbleShape::Edge edge)
{
    return SpeechBubble{text, 0, edge, CanvasScene::kBubbleTail}.size();
}

QRect CanvasPainter::figureReach(const CanvasScene &scene)
{
    if (!scene.catShown)
        return {};
    if (scene.filmed) {
        // A tilted clip's corners swing out by up to a quarter of its size.
        const double swing = 0.25 * std::max(scene.figureFrame.width(), scene.figureFrame.height());
        return outward(scene.figureFrame, int(std::ceil(swing)) + 2);
    }
    return outward(scene.figureFrame, kFigureReach);
}

QRect CanvasPainter::bubbleReach(const CanvasScene &scene, const QString &text)
{
    if (!scene.catShown || !scene.bubble || text.isEmpty())
        return {};
    return outward(scene.bubble->rectFor(bubbleSize(text, scene.bubble->tailEdge)), kBubbleReach);
}

namespace {

// Steps of the drawn figure's continuous pose parts: a phase step is a 32nd of
// a cycle, under a third of a frame at the quickest gait.
constexpr double kPhaseSteps = 32;
// Asleep with the user away frames come four times a second: the breath and
// the sleep marks are shown in as many poses as those frames show of a cycle.
constexpr double kPausedSleepSteps = 12;
constexpr double kProgressSteps = 32;
// A pupil moves 1.4 points at most: steps of 0.7 point are as fine as shows.
constexpr double kGazeSteps = 2;

} // namespace

CanvasPainter::PoseKey CanvasPainter::keyOf(const CompanionPose &pose, bool paused)
{
    const auto step = [](double v, double steps, double lo, double hi) {
        return std::isfinite(v) ? int(std::lround(std::clamp(v, lo, hi) * steps)) : 0;
    };
    PoseKey key;
    key.state = int(pose.state);
    key.left = pose.facing < 0;
    const double steps = paused && pose.state == CompanionState::sleep ? kPausedSleepSteps : kPhaseSteps;
    key.phaseSteps = int(steps);
    key.phase = step(pose.phase, steps, 0, 1) % key.phaseSteps;
    // Only a pounce and a stretch are drawn by their progress: a walk keeps no
    // more pictures than its gait has.
    const bool byProgress = pose.state == CompanionState::pounce || pose.state == CompanionState::stretch;
    key.progress = byProgress ? step(pose.progress, kProgressSteps, 0, 1) : 0;
    // Asleep the eyes are closed slits: neither a blink nor the gaze shows.
    const bool eyesOpen = pose.state != CompanionState::sleep;
    key.blink = eyesOpen && pose.blink;
    key.gazeX = eyesOpen ? step(pose.gaze.x(), kGazeSteps, -1, 1) : 0;
    key.gazeY = eyesOpen ? step(pose.gaze.y(), kGazeSteps, -1, 1) : 0;
    key.band = pose.verticalSpeed > 40 ? 1 : pose.verticalSpeed < -40 ? -1 : 0;
    return key;
}

bool CanvasPainter::sameDrawing(const CompanionPose &a, const CompanionPose &b, bool paused)
{
    return keyOf(a, paused) == keyOf(b, paused);
}

CompanionPose CanvasPainter::drawnPose(const CompanionPose &pose, const PoseKey &key)
{
    CompanionPose drawn = pose;
    drawn.position = QPointF();
    drawn.facing = key.left ? -1 : 1;
    drawn.phase = double(key.phase) / key.phaseSteps;
    drawn.progress = key.progress / kProgressSteps;
    drawn.gaze = QPointF(key.gazeX / kGazeSteps, key.gazeY / kGazeSteps);
    drawn.verticalSpeed = key.band * 100.0;
    return drawn;
}

void CanvasPainter::setPictureLimit(int limit)
{
    m_limit = std::clamp(limit, 1, kPictureLimit);
    dropOldest();
}

void CanvasPainter::dropOldest()
{
    // The least recently used go first.
    while (int(m_pictures.size()) > m_limit) {
        auto oldest = m_pictures.begin();
        for (auto it = m_pictures.begin(); it != m_pictures.end(); ++it) {
            if (it->second.used < oldest->second.used)
                oldest = it;
        }
        m_pictures.erase(oldest);
    }
}

void CanvasPainter::paintDrawn(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose, bool paused)
{
    CompanionFigure figure;
    figure.marks = PaletteColors::color(ZephylPalette::Color::settled);
    // Other programs' windows lie behind the desktop cat, dark ones too,
    // whatever our appearance: it keeps its rim in both.
    figure.rim = CompanionFigure::darkGroundRim();
    if (m_cachedMarks != *figure.marks) {
        m_pictures.clear();
        m_cachedMarks = *figure.marks;
    }
    const PoseKey key = keyOf(pose, paused);
    figure.pose = drawnPose(pose, key);
    auto [at, made] = m_pictures.try_emplace(key);
    at->second.used = ++m_uses;
    if (made)
        dropOldest();
    // On whole points, so a picture made once is blitted again wherever the cat
    // walks, not blurred anew for each sub-pixel offset.
    painter.save();
    painter.translate(std::round(scene.figureFrame.left()), std::round(scene.figureFrame.top()));
    if (!at->second.cache.isValid())
        ++m_painted;
    figure.paint(painter, &at->second.cache);
    painter.restore();
}

void CanvasPainter::paintFigure(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose,
                                const CompanionVariant &variant, bool paused)
{
    if (!scene.catShown)
        return;
    if (scene.filmed && m_filmed)
        m_filmed->paint(painter, variant, *scene.filmed, scene.figureFrame, paused);
    else if (!scene.filmed)
        paintDrawn(painter, scene, pose, paused);
}

void CanvasPainter::paintBubble(QPainter &painter, const CanvasScene &scene, const QString &text, double opacity)
{
    if (!scene.catShown || !scene.bubble || text.isEmpty() || opacity <= 0)
        return;
    const SpeechBubble bubble{text, scene.bubble->tailOffset, scene.bubble->tailEdge, CanvasScene::kBubbleTail};
    const QRectF rect = scene.bubble->rectFor(bubble.size());
    painter.save();
    painter.setOpacity(std::clamp(opacity, 0.0, 1.0));
    painter.translate(rect.topLeft());
    bubble.paint(painter);
    painter.restore();
}

void CanvasPainter::paint(QPainter &painter, const CanvasScene &scene, const CompanionPose &pose,
                          const CompanionVariant &variant, const QString &bubbleText, double bubbleOpacity,
                          bool paused, const QRect &dirty)
{
    if (!scene.catShown)
        return;
    if (figureReach(scene).intersects(dirty))
        paintFigure(painter, scene, pose, variant, paused);
    if (bubbleReach(scene, bubbleText).intersects(dirty))
        paintBubble(painter, scene, bubbleText, bubbleOpacity);
}

namespace {

// How far a figure's picture reaches past its frame: the drawn figure's paws,
// rim and shadows; a film's corners as far as a tilt may swing them.
int figureMargin(const CanvasScene &scene)
{
    if (scene.filmed)
        return int(std::ceil(0.25 * std::max(scene.figureFrame.width(), scene.figureFrame.height()))) + 2;
    return kFigureReach;
}

bool finiteRect(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height()) &&
           std::abs(r.x()) < 1e6 && std::abs(r.y()) < 1e6 && r.width() < 1e5 && r.height() < 1e5;
}

template <typename T>
void append(QByteArray &key, T value)
{
    key.append(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

QRect CanvasPainter::figureRect(const CanvasScene &scene)
{
    if (!scene.catShown || !finiteRect(scene.figureFrame))
        return {};
    // Both kinds of figure are drawn from the frame's corner rounded to a
    // pixel: the picture moves with it whole.
    const int m = figureMargin(scene);
    const QRectF f = scene.figureFrame;
    return QRect(int(std::lround(f.left())) - m, int(std::lround(f.top())) - m, int(std::ceil(f.width())) + 2 * m,
                 int(std::ceil(f.height())) + 2 * m);
}

QRect CanvasPainter::bubbleRect(const CanvasScene &scene, const QString &text)
{
    if (!scene.catShown || !scene.bubble || text.isEmpty())
        return {};
    const QRectF r = scene.bubble->rectFor(bubbleSize(text, scene.bubble->tailEdge));
    if (!finiteRect(r))
        return {};
    // rectFor puts the bubble on whole points.
    return QRect(int(std::lround(r.left())) - kBubbleReach, int(std::lround(r.top())) - kBubbleReach,
                 int(std::ceil(r.width())) + 2 * kBubbleReach, int(std::ceil(r.height())) + 2 * kBubbleReach);
}

CanvasPainter::Piece CanvasPainter::figurePiece(const CanvasScene &scene, const CompanionPose &pose,
                                                const CompanionVariant &variant, bool paused)
{
    Piece piece;
    piece.rect = figureRect(scene);
    if (piece.rect.isEmpty()) {
        piece.blank = true;
        return piece;
    }
    const QSize size(int(std::lround(scene.figureFrame.width() * 8)), int(std::lround(scene.figureFrame.height() * 8)));
    if (!scene.filmed) {
        const PoseKey k = keyOf(pose, paused);
        piece.key = "drawn";
        for (const int v : {k.state, int(k.left), k.phase, k.phaseSteps, k.progress, int(k.blink), k.gazeX, k.gazeY,
                            k.band})
            append(piece.key, v);
        append(piece.key, PaletteColors::color(ZephylPalette::Color::settled).rgba());
        return piece;
    }
    if (!m_filmed) {
        piece.blank = true;
        return piece;
    }
    const FilmedPlacement &placed = *scene.filmed;
    m_filmed->prepare(variant, placed, paused);
    const qint64 picture = m_filmed->pictureShown();
    if (picture == 0) {
        piece.blank = true; // nothing shown yet
        return piece;
    }
    if (placed.tilt != 0)
        return piece; // turned between pixels: a new picture every frame, not kept
    piece.key = "filmed";
    append(piece.key, picture);
    append(piece.key, placed.mirrored);
    append(piece.key, size.width());
    append(piece.key, size.height());
    return piece;
}

CanvasPainter::Piece CanvasPainter::bubblePiece(const CanvasScene &scene, const QString &text, double opacity)
{
    Piece piece;
    piece.rect = bubbleRect(scene, text);
    if (piece.rect.isEmpty() || opacity <= 0) {
        piece.blank = true;
        return piece;
    }
    piece.key = "bubble";
    append(piece.key, int(scene.bubble->tailEdge));
    append(piece.key, qint64(std::llround(std::clamp(scene.bubble->tailOffset, -1e6, 1e6) * 8)));
    append(piece.key, int(std::lround(std::clamp(opacity, 0.0, 1.0) * 255)));
    piece.key.append(text.toUtf8());
    return piece;
}
