#pragma once

#include "companion/CompanionCanvas.h"
#include "companion/CompanionDesktop.h"

#include <QRegion>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace X11 {
class PictureWindow;
}

// A window of the desktop cat: frameless, above other windows and outside the
// window manager's care. Clicks pass through it except on the rectangles the
// controller makes interactive (the X input shape).
//
// A screen layer covers one screen and is translucent: it needs a compositing
// manager. A cat window is as big as the cat and its bubble and follows the cat
// over the screens: translucent where a compositing manager blends it with what
// lies beneath, else cut to the drawing by its bounding shape so that the
// desktop around the cat shows through.
class CompanionPanel final : public QWidget {
    Q_OBJECT
public:
    enum class Kind { screenLayer, catWindow };

    explicit CompanionPanel(const CompanionScreen &screen, const QRect &qtGeometry, Kind kind = Kind::screenLayer,
                            bool translucent = false);
    ~CompanionPanel() override;

    Kind kind() const { return m_kind; }
    // Blended with what lies beneath (a screen layer, or a cat window under a
    // compositing manager); else cut to its drawing.
    bool translucent() const { return m_kind == Kind::screenLayer || m_translucent; }
    // The screen whose canvas the frame is laid out on; a cat window moves to
    // the cat's screen with placeOn().
    const CompanionScreen &screen() const { return m_screen; }
    // That canvas's top-left corner in Qt's global points: the layer's own
    // corner, or the cat window's screen's.
    QPoint canvasOrigin() const { return m_canvasOrigin; }
    void placeOn(const CompanionScreen &screen, QPoint canvasOrigin);
    // Where the window lies now (Qt's global points): a cat window's last
    // place, which Qt learns late or not at all while the cat walks.
    QRect placement() const { return m_placed.isValid() ? m_placed : geometry(); }

    // Mouse callbacks with the pointer in Qt's global points.
    std::function<void(QPointF)> onMouseDown, onMouseDragged, onMouseUp;

    // The cat as assistive technology sees it: a button "Ask the cat" over
    // `catAccessibilityFrame` (Qt's global points) while that is set, nothing
    // otherwise. Pressing it answers what onAccessibilityPress answers.
    void setCatAccessibilityFrame(const std::optional<QRect> &frame) { m_catFrame = frame; }
    const std::optional<QRect> &catAccessibilityFrame() const { return m_catFrame; }
    std::function<bool()> onAccessibilityPress;
    bool accessibilityPress() { return m_catFrame && onAccessibilityPress && onAccessibilityPress(); }

    // What to draw now. Repaints only what the figure and the bubble covered
    // before and cover now, and nothing when neither changed.
    struct Frame {
        CanvasScene scene;
        CompanionPose pose;
        CompanionVariant variant;
        QString bubbleText;
        double bubbleOpacity = 0;
        bool paused = false;
        bool filmPlaying = false; // a running film changes without a new pose
        // The film's picture due now (FilmedFigurePainter::pictureShown): a
        // playing film is drawn again only when it is another, or unknown (0).
        qint64 filmPicture = 0;
    };
    void present(const Frame &frame);
    const Frame &frame() const { return m_frame; }
    // Draws the frame again as it is: a film whose picture arrived after the
    // frame was presented (a held clip shows nothing until then).
    void repaintFigure();

    // The parts of the panel (its own points) that take the mouse; applied only
    // when they differ from the last ones.
    void setInteractive(const std::vector<QRect> &rects);
    const std::vector<QRect> &interactive() const { return m_interactive; }

    void setFilmedPainter(std::shared_ptr<FilmedFigurePainter> painter) { m_painter.setFilmedPainter(std::move(painter)); }

    // The area repainted by the last present(), for checks.
    QRegion lastDirty() const { return m_lastDirty; }
    // A cat window's bounding shape (its own pixels): where the drawing is.
    const std::vector<QRect> &shape() const { return m_shape; }

    // A cat window on an X server keeps the pictures of the figure and the
    // bubble there, each sent once, and draws a frame from them.
    bool picturesOnServer() const;
    // Pictures held there now, and how many were ever sent.
    int picturesKept() const { return int(m_kept.size()); }
    std::vector<unsigned int> picturesHeld() const;
    int picturesSent() const { return m_sent; }
    // Pictures of the drawn figure kept in this process: a few while the
    // server keeps them all.
    int figurePicturesHere() const { return m_painter.pictureCount(); }
    static constexpr int kFigurePicturesBesideServer = 4;
    // What the server-held pictures of one window may take at most.
    static constexpr qint64 kPictureBudgetBytes = 6 * 1024 * 1024;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void applyInputShape();
    unsigned int applyShape(); // the request's sequence number, 0 when none was sent
    void trustMoves();
    QRegion reach(const Frame &f) const;
    void presentWindow();
    void followDisplaced();
    // The window's pixels composed here, and its shape, for `bounds` (canvas points).
    QImage composeWindow(const QRect &bounds, std::vector<QRect> *shape);
    // Without a compositor a pixel shows whole or not at all: keeps the pixels
    // at least half covered, opaque, and lists them as rectangles.
    static std::vector<QRect> cutToShape(QImage &image);
    struct Kept {
        unsigned int picture = 0;
        QSize size;
        std::vector<QRect> shape; // its own pixels
        qint64 bytes = 0;
        quint64 used = 0;
    };
    // The picture of `piece` on the server, sent now when it is not there yet;
    // one not worth keeping is made into `once`.
    const Kept *pictureOf(const CanvasPainter::Piece &piece, bool figure, Kept &once);
    void dropPictures();
    // The bubble's opacity in its picture on the server.
    double bubbleDrawnOpacity() const;

    Kind m_kind;
    bool m_translucent = false;
    // A translucent cat window with nothing to show is cut to nothing.
    bool m_blank = true;
    CompanionScreen m_screen;
    QPoint m_canvasOrigin;
    // The cat window's drawing, opaque where the shape lets it show.
    QImage m_image;
    std::vector<QRect> m_shape;
    Frame m_frame;
    bool m_presented = false;
    QRegion m_lastDirty;
    std::vector<QRect> m_interactive;
    std::optional<QRect> m_catFrame;
    CanvasPainter m_painter;
    // The native window whose move notices are taken as they are (a cat window's).
    unsigned int m_trusted = 0;
    // Where the cat window was last put (Qt learns a move from the server's notice).
    QRect m_placed;
    std::unique_ptr<X11::PictureWindow> m_server;
    std::map<QByteArray, Kept> m_kept;
    qint64 m_keptBytes = 0;
    quint64 m_uses = 0;
    int m_sent = 0;
    QString m_keptLook;
};
