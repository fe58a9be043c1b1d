#include "web/WebPopup.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

namespace {
constexpr int kWidth = 640;
constexpr int kHeight = 760;
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

void WebPopup::place(QWidget *over)
{
    QRect area;
    if (over)
        area = over->frameGeometry();
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        m_window->move(area.center() - QPoint(kWidth / 2, kHeight / 2));
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
    if (watched == m_window && event->type() == QEvent::Close && !m_closed) {
        m_closed = true;
        if (m_onClose)
            m_onClose(this);
    }
    return QObject::eventFilter(watched, event);
}
