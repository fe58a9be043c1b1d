#include "web/WebPopup.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

namespace {
constexpr int kWidth = 640;
constexpr int kHeight = 760;
// How long the window manager may take to frame the window before a centring
// would come too late (the user may have moved it).
constexpr int kFrameWaitMs = 3000;
} // namespace

WebPopup::WebPopup(QWebEnginePage *page, const QString &title, std::function<void(WebPopup *)> onClose, QObject *parent)
    : QObject(parent), m_onClose(std::move(onClose))
{
    page->setParent(this);
    m_window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowMaximizeButtonHint);
    m_window->setWindowTitle(title);
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
} // namespace

void WebPopup::place(QWidget *over)
{
    QRect area;
    QMargins frame;
    if (over) {
        area = over->frameGeometry();
        frame = frameOf(over);
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        // Before its first show a window's position is its frame's: the frame
        // is centred, not the content, or the title bar pushes it down.
        QRect target(QPoint(), QSize(kWidth, kHeight).grownBy(frame));
        target.moveCenter(area.center());
        m_centre = target.center();
        m_window->move(target.topLeft());
        QTimer::singleShot(kFrameWaitMs, this, [this] { m_centre.reset(); });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void WebPopup::close()
{
    if (m_window)
        m_window->close();
}

bool WebPopup::eventFilter(QObject *watched, QEvent *event)
{
    // The first frame the window manager gives may differ from the one of the
    // window it opened over: once known, the frame is centred again.
    if (watched == m_window && m_centre &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
        framed(m_window)) {
        const QPoint off = *m_centre - m_window->frameGeometry().center();
        m_centre.reset();
        if (!off.isNull())
            m_window->move(m_window->pos() + off);
    }
    if (watched == m_window && event->type() == QEvent::Close && !m_closed) {
        m_closed = true;
        if (m_onClose)
            m_onClose(this);
    }
    return QObject::eventFilter(watched, event);
}
