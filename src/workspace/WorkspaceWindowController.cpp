#include "workspace/WorkspaceWindowController.h"

#include "base/DefaultsStore.h"
#include "design/AppearanceService.h"
#include "design/PaletteColors.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "web/WebWorkspace.h"
#include "workspace/ScreenKit.h"
#include "workspace/WebWorkspaceScreen.h"
#include "workspace/WorkspaceRootView.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPainter>
#include <QRegion>
#include <QScreen>
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
    const int height = std::max(kMinimumHeight, std::min(visible.height() - 124 - 40, maxHeight));
    const int x = visible.x() + (visible.width() - width) / 2;
    const int y = std::min(visible.y() + 124, visible.y() + visible.height() - 8 - height);
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
    bringForward(m_window);
}

void WorkspaceWindowController::make(AppModel &model, WebWorkspaceModel *web)
{
    m_kind = web ? Kind::web : Kind::native;
    auto *window = new WorkspaceWindow;
    window->setWindowTitle(QStringLiteral("Zephyl"));
    window->setMinimumSize(kMinimumWidth, kMinimumHeight);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (makeMenuBar) {
        if (QMenuBar *bar = makeMenuBar(window))
            layout->setMenuBar(bar);
    }
    if (web)
        layout->addWidget(makeWebContent(*web, model));
    else
        layout->addWidget(new WorkspaceRootView(model, window));

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect visible = screen ? screen->availableGeometry() : QRect(0, 0, 1440, 900);
    const QRect frame = initialFrame(visible, m_kind);
    window->resize(frame.size());
    window->move(frame.topLeft());
    m_restoring = true;
    if (const auto saved = m_defaults->data(frameKey(m_kind)))
        window->restoreGeometry(*saved);
    m_restoring = false;

    window->installEventFilter(this);
    m_window = window;
    // The native window exists now, so its exposure can be followed.
    window->winId();
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
    case QEvent::Show:
    case QEvent::WindowStateChange:
    case QEvent::Expose:
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
