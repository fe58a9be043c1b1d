#include "companion/CompanionPanel.h"

#include "design/L10n.h"
#include "design/WindowTitles.h"
#include "platform/X11.h"
#include "platform/X11Pictures.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

namespace {

// The cat on a panel, for assistive technology: one button, or nothing while
// the cat may not be pressed on this screen.
class CatAccessible final : public QAccessibleWidget {
public:
    explicit CatAccessible(CompanionPanel *panel) : QAccessibleWidget(panel, QAccessible::Button) {}

    CompanionPanel *panel() const { return static_cast<CompanionPanel *>(widget()); }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && panel()->catAccessibilityFrame())
            return L10n::t("Ask the cat");
        return QString();
    }
    QRect rect() const override { return panel()->catAccessibilityFrame().value_or(QRect()); }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !panel()->catAccessibilityFrame();
        return s;
    }
    QStringList actionNames() const override
    {
        return panel()->catAccessibilityFrame() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString &name) override
    {
        if (name == pressAction())
            panel()->accessibilityPress();
    }
};

QAccessibleInterface *catAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("CompanionPanel") && object && object->isWidgetType())
        return new CatAccessible(static_cast<CompanionPanel *>(object));
    return nullptr;
}

} // namespace

CompanionPanel::CompanionPanel(const CompanionScreen &screen, const QRect &qtGeometry, Kind kind, bool translucent)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint),
      m_kind(kind), m_translucent(translucent), m_screen(screen), m_canvasOrigin(qtGeometry.topLeft())
{
    static const bool factory = [] {
        QAccessible::installFactory(catAccessible);
        return true;
    }();
    Q_UNUSED(factory);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_AlwaysStackOnTop);
    WindowTitles::set(this, [] { return L10n::t("Your cat"); });
    setFocusPolicy(Qt::NoFocus);
    if (screen.screen)
        setScreen(screen.screen);
    setGeometry(qtGeometry);
    // The shape exists before the window is shown, so no click is ever caught
    // by an empty panel.
    winId();
    applyInputShape();
    // Nothing of a cat window shows until there is a drawing to show.
    applyShape();
    trustMoves();
}

CompanionPanel::~CompanionPanel()
{
    dropPictures();
    if (m_trusted)
        X11::forgetMoveNotices(m_trusted);
}

void CompanionPanel::trustMoves()
{
    // A cat window follows the walking cat, moved up to every frame.
    if (m_kind != Kind::catWindow || !X11::available())
        return;
    const auto window = static_cast<unsigned int>(winId());
    if (window == m_trusted)
        return;
    if (m_trusted)
        X11::forgetMoveNotices(m_trusted);
    m_trusted = window;
    X11::trustMoveNotices(window);
}

void CompanionPanel::placeOn(const CompanionScreen &screen, QPoint canvasOrigin)
{
    if (m_kind != Kind::catWindow)
        return;
    if (screen.screen && screen.screen != m_screen.screen) {
        setScreen(screen.screen);
        m_placed = QRect(); // Qt may have placed the window on that screen itself
    }
    m_screen = screen;
    if (canvasOrigin != m_canvasOrigin) {
        m_canvasOrigin = canvasOrigin;
        m_presented = false; // the same scene lies elsewhere now
    }
}

QRegion CompanionPanel::reach(const Frame &f) const
{
    QRegion r;
    if (!f.scene.catShown)
        return r;
    r += CanvasPainter::figureReach(f.scene);
    if (f.bubbleOpacity > 0)
        r += CanvasPainter::bubbleReach(f.scene, f.bubbleText);
    return r;
}

void CompanionPanel::present(const Frame &next)
{
    const auto sameScene = [](const CanvasScene &a, const CanvasScene &b) {
        const auto sameBubble = [](const std::optional<CanvasScene::Bubble> &x,
                                   const std::optional<CanvasScene::Bubble> &y) {
            if (x.has_value() != y.has_value())
                return false;
            return !x || (sameRect(x->frame, y->frame) && x->tailEdge == y->tailEdge && x->tailOffset == y->tailOffset);
        };
        return a.catShown == b.catShown && sameRect(a.figureFrame, b.figureFrame) && sameBubble(a.bubble, b.bubble) &&
               a.filmed.has_value() == b.filmed.has_value() &&
               (!a.filmed || (a.filmed->mirrored == b.filmed->mirrored && a.filmed->tilt == b.filmed->tilt &&
                              a.filmed->clip == b.filmed->clip));
    };
    // The drawn figure changes its picture a few times a second while it
    // breathes or sits: the frames between are the same picture again.
    const bool samePose = next.scene.filmed ? m_frame.pose == next.pose
                                            : CanvasPainter::sameDrawing(m_frame.pose, next.pose, next.paused);
    const bool unchanged = m_presented && sameScene(m_frame.scene, next.scene) && samePose &&
                           m_frame.variant == next.variant && m_frame.bubbleText == next.bubbleText &&
                           m_frame.bubbleOpacity == next.bubbleOpacity && m_frame.paused == next.paused &&
                           (!next.filmPlaying || (next.filmPicture != 0 && next.filmPicture == m_frame.filmPicture));
    if (unchanged) {
        m_lastDirty = QRegion();
        return;
    }
    QRegion dirty = reach(next);
    if (m_presented)
        dirty += reach(m_frame);
    m_frame = next;
    m_presented = true;
    if (m_kind == Kind::catWindow) {
        presentWindow();
        return;
    }
    dirty &= rect();
    m_lastDirty = dirty;
    if (!dirty.isEmpty())
        update(dirty);
}

void CompanionPanel::repaintFigure()
{
    if (!m_presented)
        return;
    if (m_kind == Kind::catWindow) {
        // Its picture is made here, not in its paint: painting alone would show the old one.
        presentWindow();
        return;
    }
    const QRegion dirty = reach(m_frame) & rect();
    m_lastDirty = dirty;
    if (!dirty.isEmpty())
        update(dirty);
}

std::vector<QRect> CompanionPanel::cutToShape(QImage &image)
{
    // Those at least half covered are shown in their own colour (a shadow's faint
    // pixels are left out), so the edges stay crisp rather than turn dark.
    std::vector<QRect> shape;
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        int runStart = -1;
        for (int x = 0; x <= width; ++x) {
            const bool in = x < width && qAlpha(row[x]) >= 128;
            if (in) {
                row[x] = qUnpremultiply(row[x]) | 0xff000000u;
                if (runStart < 0)
                    runStart = x;
            } else {
                if (x < width)
                    row[x] = 0; // left out: nothing to lay over what lies beneath
                if (runStart >= 0) {
                    // A run continuing the one straight above it grows that one.
                    if (!shape.empty() && shape.back().left() == runStart && shape.back().right() == x - 1 &&
                        shape.back().bottom() == y - 1)
                        shape.back().setBottom(y);
                    else
                        shape.emplace_back(runStart, y, x - runStart, 1);
                    runStart = -1;
                }
            }
        }
    }
    return shape;
}

QImage CompanionPanel::composeWindow(const QRect &bounds, std::vector<QRect> *shape)
{
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    const QSize pixels = (QSizeF(bounds.size()) * ratio).toSize();
    // The last frame's buffer is drawn over again when the size holds, as it does while the cat walks.
    QImage image = std::move(m_image);
    if (image.size() != pixels || image.devicePixelRatio() != ratio) {
        image = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
    }
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-bounds.topLeft());
        m_painter.paint(painter, m_frame.scene, m_frame.pose, m_frame.variant, m_frame.bubbleText,
                        m_frame.bubbleOpacity, m_frame.paused, bounds);
    }
    // Without a compositor nothing blends: a pixel is shown whole or not at all.
    if (!translucent()) {
        std::vector<QRect> cut = cutToShape(image);
        if (shape)
            *shape = std::move(cut);
    }
    return image;
}

bool CompanionPanel::picturesOnServer() const { return m_server && m_server->usable(); }

std::vector<unsigned int> CompanionPanel::picturesHeld() const
{
    std::vector<unsigned int> held;
    for (const auto &[key, kept] : m_kept)
        held.push_back(kept.picture);
    return held;
}

double CompanionPanel::bubbleDrawnOpacity() const
{
    // Blended, a fading bubble is its whole picture laid through a mask; cut to
    // its shape, a pixel's part in the fade decides whether it shows at all.
    return translucent() && m_frame.bubbleOpacity > 0 ? 1.0 : m_frame.bubbleOpacity;
}

void CompanionPanel::dropPictures()
{
    for (const auto &[key, kept] : m_kept) {
        if (m_server)
            m_server->release(kept.picture);
    }
    m_kept.clear();
    m_keptBytes = 0;
}

const CompanionPanel::Kept *CompanionPanel::pictureOf(const CanvasPainter::Piece &piece, bool figure, Kept &once)
{
    if (!piece.key.isEmpty()) {
        const auto found = m_kept.find(piece.key);
        if (found != m_kept.end()) {
            found->second.used = ++m_uses;
            return &found->second;
        }
    }
    // Painted alone at its place on the canvas, then sent once.
    QImage image(piece.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-piece.rect.topLeft());
        if (figure)
            m_painter.paintFigure(painter, m_frame.scene, m_frame.pose, m_frame.variant, m_frame.paused);
        else
            CanvasPainter::paintBubble(painter, m_frame.scene, m_frame.bubbleText, bubbleDrawnOpacity());
    }
    Kept kept;
    if (!translucent())
        kept.shape = cutToShape(image);
    kept.size = image.size();
    kept.bytes = qint64(image.sizeInBytes());
    kept.used = ++m_uses;
    kept.picture = m_server->upload(image);
    if (!kept.picture)
        return nullptr;
    ++m_sent;
    if (piece.key.isEmpty()) {
        // For this frame only: the caller lets it go once it is drawn.
        once = std::move(kept);
        return &once;
    }
    // The least recently used go first once the pictures outgrow their budget.
    while (!m_kept.empty() && m_keptBytes + kept.bytes > kPictureBudgetBytes) {
        auto oldest = m_kept.begin();
        for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
            if (it->second.used < oldest->second.used)
                oldest = it;
        }
        m_server->release(oldest->second.picture);
        m_keptBytes -= oldest->second.bytes;
        m_kept.erase(oldest);
    }
    m_keptBytes += kept.bytes;
    return &m_kept.emplace(piece.key, std::move(kept)).first->second;
}

void CompanionPanel::followDisplaced()
{
    if (m_kind != Kind::catWindow || !m_trusted || !X11::takeDisplaced(m_trusted))
        return;
    // The window goes with the cat: one moved by another program goes back over
    // it at once, also while the cat holds still, and Qt is told where it is.
    if (m_placed.isValid() && devicePixelRatioF() == 1.0)
        X11::moveWindow(m_trusted, m_placed, true);
}

void CompanionPanel::presentWindow()
{
    followDisplaced();
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    if (X11::available() && ratio == 1.0 && (!m_server || m_server->window() != static_cast<unsigned int>(winId()))) {
        dropPictures();
        m_server = std::make_unique<X11::PictureWindow>(static_cast<unsigned int>(winId()));
    }
    const bool onServer = picturesOnServer() && ratio == 1.0;
    // The server keeps the pictures sent: here a figure's picture is only
    // painted to be sent, or for the rare exposure Qt answers.
    m_painter.setPictureLimit(onServer ? kFigurePicturesBesideServer : CanvasPainter::kPictureLimit);
    if (!onServer && !m_kept.empty())
        dropPictures(); // drawn here at this scale: they would only hold the server's memory
    if (onServer && m_frame.variant.id != m_keptLook) {
        // Another look: none of the pictures kept will be asked for again.
        dropPictures();
        m_keptLook = m_frame.variant.id;
    }

    // The figure and the bubble, each a picture on whole pixels of the canvas.
    std::vector<std::pair<CanvasPainter::Piece, bool>> pieces;
    if (m_frame.scene.catShown) {
        pieces.emplace_back(onServer ? m_painter.figurePiece(m_frame.scene, m_frame.pose, m_frame.variant,
                                                             m_frame.paused)
                                     : CanvasPainter::Piece{CanvasPainter::figureRect(m_frame.scene), {}, false},
                            true);
        if (m_frame.bubbleOpacity > 0)
            pieces.emplace_back(CanvasPainter::bubblePiece(m_frame.scene, m_frame.bubbleText, bubbleDrawnOpacity()),
                                false);
    }
    QRect bounds;
    for (const auto &[piece, figure] : pieces) {
        if (!piece.rect.isEmpty())
            bounds |= piece.rect;
    }
    // A cat between pixels reaches a pixel further some frames than others: the
    // window keeps its size over such a pixel, so that a walk only moves it.
    if (!bounds.isEmpty() && m_placed.isValid() && bounds.width() <= m_placed.width() &&
        bounds.height() <= m_placed.height() && m_placed.width() - bounds.width() <= 1 &&
        m_placed.height() - bounds.height() <= 1)
        bounds.setSize(m_placed.size());
    if (bounds.isEmpty()) {
        m_image = QImage();
        m_lastDirty = QRegion();
        if (!m_shape.empty() || !m_blank) {
            m_shape.clear();
            m_blank = true;
            applyShape();
        }
        return;
    }
    const bool wasBlank = m_blank;
    m_blank = false;

    std::vector<QRect> shape;
    std::vector<X11::PictureWindow::Placed> placed;
    std::vector<unsigned int> transient;
    if (onServer) {
        for (const auto &[piece, figure] : pieces) {
            if (piece.blank)
                continue;
            Kept once;
            const Kept *kept = pictureOf(piece, figure, once);
            if (!kept)
                continue;
            if (kept == &once)
                transient.push_back(once.picture);
            const QPoint at = piece.rect.topLeft() - bounds.topLeft();
            placed.push_back({kept->picture, at, kept->size, figure ? 1.0 : m_frame.bubbleOpacity / bubbleDrawnOpacity()});
            if (!translucent()) {
                for (const QRect &r : kept->shape)
                    shape.push_back(r.translated(at));
            }
        }
        m_image = QImage();
    } else {
        m_image = composeWindow(bounds, &shape);
    }
    // The requests below may lay parts of the window open; the whole window is
    // sent again right after them, so the server's exposures need no answer.
    std::vector<unsigned int> repainted;
    const QRect target = bounds.translated(m_canvasOrigin);
    if (target != m_placed) {
        // A walking cat's window keeps its size and moves every frame: moved
        // with a request of its own (at one pixel a point, where Qt's points and
        // the server's pixels agree); anything else goes through Qt.
        // Qt is not told of such moves: when it still takes the window to be
        // where it is going, it would not send it there.
        const bool byRequest = ratio == 1.0 && X11::available() &&
                               ((m_placed.isValid() && target.size() == m_placed.size()) || geometry() == target);
        if (byRequest) {
            repainted.push_back(X11::moveWindow(static_cast<unsigned int>(winId()), target));
        } else {
            if (ratio == 1.0 && X11::available())
                X11::qtMoves(static_cast<unsigned int>(winId()), target.topLeft());
            setGeometry(target);
        }
        m_placed = target;
    }
    if (shape != m_shape || (translucent() && wasBlank)) {
        m_shape = std::move(shape);
        repainted.push_back(applyShape());
    }
    if (m_trusted)
        X11::repaintFollows(m_trusted, repainted);
    m_lastDirty = QRegion(bounds);
    if (onServer) {
        // The frame is drawn on the server from its pictures; Qt paints the
        // window only when the server exposes it (paintEvent).
        m_server->present(bounds.size(), placed);
        for (unsigned int picture : transient)
            m_server->release(picture);
        return;
    }
    update();
}

void CompanionPanel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (m_kind == Kind::catWindow) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        if (m_image.isNull() && m_presented && m_placed.isValid())
            m_image = composeWindow(m_placed.translated(-m_canvasOrigin), nullptr);
        if (!m_image.isNull())
            painter.drawImage(QPoint(0, 0), m_image);
        // Drawn for this paint; the frames come from the server's pictures.
        if (picturesOnServer())
            m_image = QImage();
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    m_painter.paint(painter, m_frame.scene, m_frame.pose, m_frame.variant, m_frame.bubbleText, m_frame.bubbleOpacity,
                    m_frame.paused, event->rect());
}

void CompanionPanel::setInteractive(const std::vector<QRect> &rects)
{
    if (rects == m_interactive)
        return;
    m_interactive = rects;
    applyInputShape();
}

void CompanionPanel::applyInputShape()
{
    if (!X11::available())
        return;
    const double ratio = devicePixelRatioF();
    std::vector<QRect> pixels;
    for (const QRect &r : m_interactive) {
        const QRectF px(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio);
        pixels.push_back(px.toAlignedRect());
    }
    X11::setInputShape(static_cast<unsigned int>(winId()), pixels);
}

unsigned int CompanionPanel::applyShape()
{
    if (m_kind != Kind::catWindow || !X11::available())
        return 0;
    if (translucent() && !m_blank)
        return X11::setBoundingShape(static_cast<unsigned int>(winId()), std::nullopt); // the whole window blends
    return X11::setBoundingShape(static_cast<unsigned int>(winId()), m_shape);
}

bool CompanionPanel::event(QEvent *event)
{
    // A new native window, or one the server maps again, starts with a full
    // input shape: set ours again.
    if (event->type() == QEvent::Move)
        followDisplaced();
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show) {
        applyInputShape();
        applyShape();
        trustMoves();
        if (event->type() == QEvent::WinIdChange) {
            m_placed = QRect();
            dropPictures();
            m_server.reset();
        }
    }
    return QWidget::event(event);
}

void CompanionPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && onMouseDown)
        onMouseDown(event->globalPosition());
}

void CompanionPanel::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && onMouseDragged)
        onMouseDragged(event->globalPosition());
}

void CompanionPanel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && onMouseUp)
        onMouseUp(event->globalPosition());
}
