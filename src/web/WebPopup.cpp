#include "web/WebPopup.h"

#include "design/WindowTitles.h"
#include "platform/X11.h"

#include <QCloseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace {
constexpr int kWidth = 640;
constexpr int kHeight = 760;
// How long the window manager may take to frame the window before a centring
// would come too late (the user may have moved it).
constexpr int kFrameWaitMs = 3000;
} // namespace

WebPopup::WebPopup(QWebEnginePage *page, std::function<QString()> title, std::function<void(WebPopup *)> onClose,
                   QObject *parent)
    : QObject(parent), m_onClose(std::move(onClose))
{
    page->setParent(this);
    m_window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowMaximizeButtonHint);
    WindowTitles::set(m_window, std::move(title));
    m_window->resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new QWebEngineView(m_window);
    m_view->setPage(page);
    layout->addWidget(m_view);
    m_window->installEventFilter(this);
    // The page closing itself (window.close()) closes the window.
    connect(page, &QWebEnginePage::windowCloseRequested, this, &WebPopup::close);
}

WebPopup::~WebPopup()
{
    if (m_window) {
        m_window->removeEventFilter(this);
        if (m_view)
            m_view->setPage(nullptr);
        delete m_window;
    }
}

namespace {
// The window manager's decoration around a window's content: none until it framed it.
QMargins frameOf(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect content = window->geometry();
    return {content.left() - frame.left(), content.top() - frame.top(), frame.right() - content.right(),
            frame.bottom() - content.bottom()};
}

bool framed(const QWidget *window) { return !frameOf(window).isNull(); }

// The framed window's rectangle for a page of `content` in `frame`: centred on
// `centre`, then moved (and, when the area is too small, made smaller) into
// `area`; an empty area holds it nowhere.
QRect framedPlace(QPoint centre, QSize content, const QMargins &frame, const QRect &area)
{
    // A work area too small for the whole window makes the page smaller.
    if (!area.isEmpty())
        content = content.boundedTo(area.size().shrunkBy(frame)).expandedTo(QSize(1, 1));
    QRect target(QPoint(), content.grownBy(frame));
    target.moveCenter(centre);
    if (!area.isEmpty()) {
        target.moveLeft(std::clamp(target.left(), area.left(), area.left() + area.width() - target.width()));
        target.moveTop(std::clamp(target.top(), area.top(), area.top() + area.height() - target.height()));
    }
    return target;
}
} // namespace

void WebPopup::place(QWidget *over)
{
    const std::vector<X11::Monitor> monitors = X11::monitors(X11::xineramaHeads());
    if (!monitors.empty()) {
        // Before its first show a window's position is its frame's: the frame
        // is centred, not the content, or the title bar pushes it down.
        m_centre = over ? over->frameGeometry().center() : monitors.front().available.center().toPoint();
        // The monitor the window is on (a desktop Qt sees as one screen may
        // have several), else the primary.
        const auto on = std::find_if(monitors.begin(), monitors.end(),
                                     [&](const X11::Monitor &m) { return m.frame.contains(QPointF(*m_centre)); });
        m_area = (on != monitors.end() ? *on : monitors.front()).available.toAlignedRect();
        fit(*m_centre, over ? frameOf(over) : QMargins());
        QTimer::singleShot(kFrameWaitMs, this, [this] { m_centre.reset(); });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void WebPopup::fit(QPoint centre, const QMargins &frame)
{
    const QRect target = framedPlace(centre, QSize(kWidth, kHeight), frame, m_area);
    const QSize content = target.size().shrunkBy(frame);
    if (m_window->size() != content)
        m_window->resize(content);
    // Shown, a window moves by its frame; before that, its frame is where it goes.
    m_window->move(m_window->isVisible() ? m_window->pos() + (target.topLeft() - m_window->frameGeometry().topLeft())
                                         : target.topLeft());
}

void WebPopup::close()
{
    if (m_window)
        m_window->close();
}

bool WebPopup::eventFilter(QObject *watched, QEvent *event)
{
    // The first frame the window manager gives may differ from the one of the
    // window it opened over: once known, the window is placed again with it.
    if (watched == m_window && m_centre &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
        framed(m_window)) {
        fit(*std::exchange(m_centre, std::nullopt), frameOf(m_window));
    }
    if (watched == m_window && event->type() == QEvent::Close && !m_closed) {
        m_closed = true;
        if (m_onClose)
            m_onClose(this);
    }
    return QObject::eventFilter(watched, event);
}
