#include "design/FloatingPanel.h"

#include "platform/X11.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Asks for the keyboard when the user presses anywhere in a panel that may have
// it, also on a child that takes the press itself.
class ActivateOnPress final : public QObject {
public:
    explicit ActivateOnPress(QWidget *panel) : QObject(panel), m_panel(panel) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress && !m_panel->isActiveWindow())
            m_panel->activateWindow();
        return false;
    }

private:
    QWidget *m_panel;
};

// A rounded rectangle of `size` pixels with corners of `radius` pixels, row by
// row: each pixel wholly inside it. A pixel the card only partly covers is
// partly transparent, which without a compositor shows darkened; the card's
// own colours make the edge. Rows of the same span are one rectangle.
std::vector<QRect> roundedRows(QSize size, double radius)
{
    const int width = size.width(), height = size.height();
    const double r = std::min({radius, width / 2.0, height / 2.0});
    std::vector<QRect> rows;
    for (int y = 0; y < height; ++y) {
        // How far into a corner's height the row's outer edge lies, and how
        // far in from the side the arc is there.
        const double up = std::max({0.0, r - y, y + 1 - (height - r)});
        const double inset = up > 0 ? r - std::sqrt(std::max(0.0, r * r - up * up)) : 0.0;
        const int left = int(std::ceil(inset - 1e-9));
        if (width - 2 * left <= 0)
            continue;
        if (!rows.empty() && rows.back().left() == left && rows.back().bottom() == y - 1)
            rows.back().setBottom(y);
        else
            rows.emplace_back(left, y, width - 2 * left, 1);
    }
    return rows;
}

Qt::WindowFlags flagsFor(bool allowsKey)
{
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (!allowsKey)
        flags |= Qt::WindowDoesNotAcceptFocus;
    return flags;
}

} // namespace

FloatingPanel::FloatingPanel(QSize size, bool allowsKey, QWidget *parent)
    : QWidget(parent, flagsFor(allowsKey)), m_allowsKey(allowsKey)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Qt shows tooltips only in the active window, which a panel that keeps off the keyboard never is.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // Kept when closed: the owner shows it again.
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A tool window must not keep the application alive, nor end it when closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    if (!allowsKey)
        setFocusPolicy(Qt::NoFocus);
    resize(size);
    winId(); // the native window exists from the start, so its number is known before the first show
    if (QWindow *window = windowHandle()) {
        window->installEventFilter(this);
        if (allowsKey)
            window->installEventFilter(new ActivateOnPress(this));
    }
    // Hidden and shown again quickly, the window manager can take the steps in
    // an order that loses the last one: it lets the window go after mapping it,
    // or maps it after it was hidden. Its notices tell when it has acted.
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &FloatingPanel::keepInStepWithServer);
    m_managingWatch = X11::watchManaging(static_cast<unsigned int>(winId()), [this] { m_quiet.start(); });
}

FloatingPanel::~FloatingPanel()
{
    X11::unwatchCompositor(m_compositorWatch);
    X11::unwatchManaging(m_managingWatch);
}

bool FloatingPanel::eventFilter(QObject *watched, QEvent *event)
{
    // Asked again of the window manager once it has mapped the window anew: a
    // quick hide and show can have it drop what was written before the map,
    // as it withdraws the window. An exposure of the earlier map can reach the
    // panel after the new show, before the window manager has withdrawn the
    // window, let alone mapped it again: only the server's word that the
    // window is mapped ends the wait.
    if (event->type() == QEvent::Expose && m_markWhenMapped && watched == windowHandle() &&
        windowHandle()->isExposed() && markFloatingForWindowManager()) {
        m_markWhenMapped = false;
        Q_EMIT mapped();
    }
    return QWidget::eventFilter(watched, event);
}

bool FloatingPanel::event(QEvent *event)
{
    // A new native window starts whole.
    if (event->type() == QEvent::WinIdChange && m_cornerRadius > 0)
        applyShape();
    return QWidget::event(event);
}

void FloatingPanel::setCornerRadius(double radius)
{
    if (radius == m_cornerRadius)
        return;
    m_cornerRadius = radius;
    if (m_cornerRadius > 0 && !m_compositorWatch)
        m_compositorWatch = X11::watchCompositor([this] { applyShape(); });
    applyShape();
}

void FloatingPanel::applyShape()
{
    if (!X11::available() || !testAttribute(Qt::WA_WState_Created))
        return;
    const auto window = static_cast<unsigned int>(winId());
    if (m_cornerRadius <= 0 || X11::compositorRunning()) {
        X11::setBoundingShape(window, std::nullopt);
        return;
    }
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    X11::setBoundingShape(window, roundedRows((QSizeF(size()) * ratio).toSize(), m_cornerRadius * ratio));
}

void FloatingPanel::setContentView(QWidget *view)
{
    if (m_content == view)
        return;
    delete m_content;
    m_content = view;
    if (!view)
        return;
    view->setParent(this);
    view->setGeometry(rect());
    view->show();
}

void FloatingPanel::orderFront()
{
    if (!isVisible())
        show();
    raise();
}

void FloatingPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Written before the window is mapped, so the states are there when the window manager first sees it.
    markFloatingForWindowManager();
    m_markWhenMapped = true;
}

void FloatingPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A hidden window loses the pointer: a drag it was in ends here, and the
    // next show's moves are not the hand's.
    m_pressGlobal.reset();
    m_dragging = false;
}

void FloatingPanel::keepInStepWithServer()
{
    const auto window = static_cast<unsigned int>(winId());
    if (isVisible() && X11::withdrawnOnServer(window)) {
        // Written before the map, and asked for again once the window manager has mapped it.
        m_markWhenMapped = true;
        markFloatingForWindowManager();
        X11::map(window);
    } else if (!isVisible() && X11::mappedOnServer(window)) {
        X11::withdraw(window);
    }
}

bool FloatingPanel::markFloatingForWindowManager()
{
    // Without X there is no window manager to wait for.
    return !X11::available() || X11::markFloating(static_cast<unsigned int>(winId()));
}

void FloatingPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Q_EMIT frameChanged();
}

void FloatingPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
    if (m_cornerRadius > 0)
        applyShape();
    Q_EMIT frameChanged();
}

void FloatingPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressGlobal = event->globalPosition().toPoint();
    m_pressTopLeft = pos();
    m_dragging = false;
    event->accept();
}

void FloatingPanel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressGlobal || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint delta = event->globalPosition().toPoint() - *m_pressGlobal;
    if (!m_dragging && delta.manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragging = true;
    move(m_pressTopLeft + delta);
}

void FloatingPanel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressGlobal) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool clicked = !m_dragging;
    m_pressGlobal.reset();
    m_dragging = false;
    if (clicked)
        Q_EMIT backgroundClicked(event->position().toPoint());
}

void activateShown(QWidget *window)
{
    window->activateWindow();
    if (QGuiApplication::focusWindow() == window->windowHandle() && !window->isActiveWindow())
        QApplication::setActiveWindow(window);
}
