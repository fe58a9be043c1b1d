#include "workspace/WorkspaceWindowController.h"

#include "base/DefaultsStore.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/PaletteColors.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "web/WebWorkspace.h"
#include "workspace/ScreenKit.h"
#include "workspace/WebWorkspaceScreen.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {
// The top-level window: painted in the palette's background and only hidden
// when closed, so it is made once per process.
class WorkspaceWindow final : public QWidget {
public:
    WorkspaceWindow()
    {
        setAttribute(Qt::WA_DeleteOnClose, false);
        setAttribute(Qt::WA_QuitOnClose, false);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), PaletteColors::color(ZephylPalette::Color::background));
    }
};
// Holds the window's content at the size it is given, never under the content's
// own minimum: in a window a short screen keeps smaller than that, the content
// scrolls rather than being cut. It has no layout, so nothing in the content
// makes it taller than the window for its width.
class ContentHolder final : public QWidget {
public:
    explicit ContentHolder(QWidget *content) : m_content(content)
    {
        content->setParent(this);
        content->show();
    }
    QSize minimumSizeHint() const override
    {
        return m_content ? m_content->minimumSize().expandedTo(m_content->minimumSizeHint()) : QSize();
    }
    QSize sizeHint() const override { return m_content ? m_content->sizeHint() : QSize(); }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        if (m_content)
            m_content->setGeometry(rect());
    }

private:
    QPointer<QWidget> m_content;
};

QScrollArea *scrolling(QWidget *content, QWidget *window)
{
    QScrollArea *area = scrollArea(new ContentHolder(content), window);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ScrollBars::follow(area->horizontalScrollBar());
    return area;
}

// Whether the window manager shows the window on another desktop, or opaque
// windows in front of it cover it wholly (a compositing manager keeps a covered
// window exposed, so Qt cannot tell). Without a window list, or with the window
// not in it, nothing is known and nothing counts as covered.
bool elsewhereOrCovered(const QWidget &window)
{
    if (!X11::available())
        return false;
    const std::vector<X11::ClientWindow> clients = X11::readClientWindows(X11::fieldOpacity); // bottom first
    const auto self = std::find_if(clients.begin(), clients.end(),
                                   [id = uint32_t(window.winId())](const X11::ClientWindow &w) { return w.id == id; });
    if (self == clients.end())
        return false;
    // The window manager's word comes before the toolkit hears of it: minimised
    // there, or on another desktop, the window is out of view.
    if (!self->onCurrentDesktop || self->hidden())
        return true;
    QRegion uncovered(self->outerFrame());
    for (auto above = std::next(self); above != clients.end(); ++above) {
        const bool covers = above->type == X11::WindowType::normal || above->type == X11::WindowType::dialog ||
                            (above->state & X11::stateFullscreen);
        if (!covers || above->hidden() || !above->viewable || !(above->opacity > 0.9))
            continue;
        uncovered -= QRegion(above->outerFrame());
        if (uncovered.isEmpty())
            return true;
    }
    return false;
}
} // namespace

WorkspaceWindowController::WorkspaceWindowController(DefaultsStore *defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults ? defaults : &DefaultsStore::shared())
{
}

WorkspaceWindowController::~WorkspaceWindowController()
{
    if (!m_window)
        return;
    saveFrame();
    // The web workspace screen hands the page's view back to the web workspace as it goes.
    delete m_window.data();
}

QRect WorkspaceWindowController::initialFrame(const QRect &visible, Kind kind)
{
    const int maxWidth = kind == Kind::web ? 1440 : 1180;
    const int maxHeight = kind == Kind::web ? 900 : 760;
    const int width = std::min(visible.width() - 40, maxWidth);
    // Never taller than the free area, nor above it, however short it is.
    const int height =
        std::min(std::max(kMinimumHeight, std::min(visible.height() - 124 - 40, maxHeight)), visible.height());
    const int x = visible.x() + (visible.width() - width) / 2;
    const int y = std::max(visible.y(), std::min(visible.y() + 124, visible.y() + visible.height() - 8 - height));
    return {x, y, width, height};
}

QString WorkspaceWindowController::frameKey(Kind kind)
{
    return kind == Kind::web ? QStringLiteral("zephyl.mac.frame.ZephylWebWorkspace")
                             : QStringLiteral("zephyl.mac.frame.ZephylWorkspace");
}

QWidget *WorkspaceWindowController::makeWebContent(WebWorkspaceModel &web, AppModel &model)
{
    auto *screen = new WebWorkspaceScreen(dynamic_cast<WebWorkspace *>(&web));
    screen->follow(model);
    return screen;
}

void WorkspaceWindowController::show(AppModel &model, WebWorkspaceModel *web)
{
    if (!m_window)
        make(model, web);
    if (!m_window->isVisible())
        m_fitPending = true;
    bringForward(m_window);
}

void WorkspaceWindowController::giveKeyboardToScreen()
{
    if (auto *split = m_window ? m_window->findChild<WorkspaceSplitView *>() : nullptr)
        split->giveKeyboardToScreen();
}

QSize WorkspaceWindowController::minimumWithin(const QSize &room)
{
    return QSize(kMinimumWidth, kMinimumHeight).boundedTo(room);
}

void WorkspaceWindowController::bound(const QSize &room)
{
    // The window's least size is its content's with the menu bar above it.
    const QMenuBar *bar = qobject_cast<QMenuBar *>(m_window ? m_window->layout()->menuBar() : nullptr);
    const int menu = bar ? bar->sizeHint().height() : 0;
    m_content->setMinimumSize(minimumWithin(room - QSize(0, menu)));
}

void WorkspaceWindowController::fitToWorkArea()
{
    keepInWorkArea(m_window, [this](const QSize &room) { bound(room); });
}

void WorkspaceWindowController::make(AppModel &model, WebWorkspaceModel *web)
{
    m_kind = web ? Kind::web : Kind::native;
    auto *window = new WorkspaceWindow;
    m_window = window;
    window->setWindowTitle(QStringLiteral("Zephyl"));
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (makeMenuBar) {
        if (QMenuBar *bar = makeMenuBar(window))
            layout->setMenuBar(bar);
    }
    // The native screens scroll inside the window when it is smaller than
    // they are; the page scrolls itself (and is drawn by the engine, which a
    // scroller around it would stop showing).
    m_content = web ? makeWebContent(*web, model) : scrolling(new WorkspaceRootView(model, window), window);
    layout->addWidget(m_content);

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect visible = screen ? screen->availableGeometry() : QRect(0, 0, 1440, 900);
    bound(visible.size());
    const QRect frame = initialFrame(visible, m_kind);
    window->resize(frame.size());
    window->move(frame.topLeft());
    m_restoring = true;
    if (const auto saved = m_defaults->data(frameKey(m_kind)))
        window->restoreGeometry(*saved);
    m_restoring = false;

    window->installEventFilter(this);
    // The native window exists now, so its exposure can be followed.
    window->winId();
    m_fitPending = true;
    if (QWindow *handle = window->windowHandle()) {
        handle->installEventFilter(this);
        connect(handle, &QWindow::visibilityChanged, this, [this] {
            if (onViewChange)
                onViewChange();
        });
    }
}

bool WorkspaceWindowController::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        if (watched == m_window && !m_restoring)
            saveFrameSoon();
        break;
    case QEvent::Hide:
    case QEvent::Close:
        if (watched == m_window)
            saveFrame();
        [[fallthrough]];
    case QEvent::Expose:
        if (event->type() == QEvent::Expose && m_fitPending && m_window && watched == m_window->windowHandle() &&
            m_window->windowHandle()->isExposed()) {
            m_fitPending = false;
            fitToWorkArea();
        }
        [[fallthrough]];
    case QEvent::Show:
    case QEvent::WindowStateChange:
        if (onViewChange)
            onViewChange();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void WorkspaceWindowController::saveFrameSoon()
{
    // A drag moves the window many times a second; the frame is written once it rests.
    if (m_saveQueued)
        return;
    m_saveQueued = true;
    QTimer::singleShot(400, this, [this] {
        m_saveQueued = false;
        saveFrame();
    });
}

void WorkspaceWindowController::saveFrame()
{
    if (m_window && m_window->isVisible())
        m_defaults->setData(frameKey(m_kind), m_window->saveGeometry());
}

bool WorkspaceWindowController::inView() const
{
    if (!m_window || !m_window->isVisible() || m_window->isMinimized())
        return false;
    const QWindow *handle = m_window->windowHandle();
    return handle && handle->isExposed() && !elsewhereOrCovered(*m_window);
}
