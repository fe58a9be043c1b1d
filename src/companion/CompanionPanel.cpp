#include "companion/CompanionPanel.h"

#include "design/L10n.h"
#include "platform/X11.h"

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

CompanionPanel::CompanionPanel(const CompanionScreen &screen, const QRect &qtGeometry, Kind kind)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint),
      m_kind(kind), m_screen(screen), m_canvasOrigin(qtGeometry.topLeft())
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
    setWindowTitle(L10n::t("Your cat"));
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
    const bool unchanged = m_presented && sameScene(m_frame.scene, next.scene) && m_frame.pose == next.pose &&
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

void CompanionPanel::presentWindow()
{
    QRect bounds = reach(m_frame).boundingRect();
    // A cat between pixels reaches a pixel further some frames than others: the
    // window keeps its size over such a pixel, so that a walk only moves it.
    if (!bounds.isEmpty() && m_placed.isValid() && bounds.width() <= m_placed.width() &&
        bounds.height() <= m_placed.height() && m_placed.width() - bounds.width() <= 1 &&
        m_placed.height() - bounds.height() <= 1)
        bounds.setSize(m_placed.size());
    if (bounds.isEmpty()) {
        m_image = QImage();
        m_lastDirty = QRegion();
        if (!m_shape.empty()) {
            m_shape.clear();
            applyShape();
        }
        return;
    }
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
            } else if (runStart >= 0) {
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
    m_image = std::move(image);
    // The requests below may lay parts of the window open; the whole window is
    // sent again right after them, so the server's exposures need no answer.
    std::vector<unsigned int> repainted;
    const QRect target = bounds.translated(m_canvasOrigin);
    if (target != m_placed) {
        // A walking cat's window keeps its size and moves every frame: moved
        // with a request of its own (at one pixel a point, where Qt's points and
        // the server's pixels agree); anything else goes through Qt.
        if (m_placed.isValid() && target.size() == m_placed.size() && ratio == 1.0 && X11::available())
            repainted.push_back(X11::moveWindow(static_cast<unsigned int>(winId()), target.topLeft()));
        else
            setGeometry(target);
        m_placed = target;
    }
    if (shape != m_shape) {
        m_shape = std::move(shape);
        repainted.push_back(applyShape());
    }
    if (m_trusted)
        X11::repaintFollows(m_trusted, repainted);
    m_lastDirty = QRegion(bounds);
    update();
}

void CompanionPanel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (m_kind == Kind::catWindow) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        if (!m_image.isNull())
            painter.drawImage(QPoint(0, 0), m_image);
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
    return X11::setBoundingShape(static_cast<unsigned int>(winId()), m_shape);
}

bool CompanionPanel::event(QEvent *event)
{
    // A new native window, or one the server maps again, starts with a full
    // input shape: set ours again.
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show) {
        applyInputShape();
        applyShape();
        trustMoves();
        if (event->type() == QEvent::WinIdChange)
            m_placed = QRect();
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
