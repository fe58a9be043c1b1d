#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>

class AppModel;
class DefaultsStore;
class QMenuBar;
class QWidget;
class WebWorkspaceModel;

// The application's one main window: the service's web app (when a web
// workspace is given at the first show) or the native workspace screens. Made on
// first use with a size that fits the screen and the frame saved by an earlier
// run, brought forward on every later request, and only hidden when closed.
class WorkspaceWindowController final : public QObject {
    Q_OBJECT
public:
    enum class Kind { web, native };

    // `defaults` keeps the window's frame; the application's store when none.
    explicit WorkspaceWindowController(DefaultsStore *defaults = nullptr, QObject *parent = nullptr);
    ~WorkspaceWindowController() override;

    // Makes the window when there is none (the arguments count only then), then
    // shows it, restores it when minimised, raises and activates it.
    void show(AppModel &model, WebWorkspaceModel *web);
    // The window brought forward for the screen it shows, from elsewhere (the
    // ask panel): the native screen takes the keyboard, unless it has it.
    void giveKeyboardToScreen();
    // None until the first show.
    QWidget *window() const { return m_window; }
    Kind kind() const { return m_kind; }
    // Shown, not minimised, exposed, on the current desktop and not wholly
    // covered by other windows.
    bool inView() const;
    // Told whenever inView() may have changed through the window's own events
    // (another window covering it sends none).
    std::function<void()> onViewChange;
    // The window's menu bar, asked for once as the window is made.
    std::function<QMenuBar *(QWidget *window)> makeMenuBar;

    // The frame a new window gets inside a screen's free area `visible` (Qt's
    // coordinates, y down): as large as the kind allows, at least 600 high
    // where the area is, centred across, its top edge 124 below the top of the
    // free area unless that would bring its bottom closer than 8 to the bottom
    // of it, and never above the area.
    static QRect initialFrame(const QRect &visible, Kind kind);
    // The smallest the window's content may be made: 960 x 600, or less where a
    // screen's free area leaves only `room` for it (the native screens then
    // scroll in the window, the page scrolls itself).
    static QSize minimumWithin(const QSize &room);
    // The key its frame is kept under between runs.
    static QString frameKey(Kind kind);
    static constexpr int kMinimumWidth = 960;
    static constexpr int kMinimumHeight = 600;

    // The content of the web window: the web workspace screen, following the
    // state object's settings.
    static QWidget *makeWebContent(WebWorkspaceModel &web, AppModel &model);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void make(AppModel &model, WebWorkspaceModel *web);
    void fitToWorkArea();
    // The content's least size where a screen's free area leaves `room` for the window.
    void bound(const QSize &room);
    void saveFrameSoon();
    void saveFrame();

    DefaultsStore *m_defaults;
    QPointer<QWidget> m_window;
    // The web workspace screen, or the scroller round the native screens.
    QPointer<QWidget> m_content;
    Kind m_kind = Kind::native;
    bool m_saveQueued = false;
    bool m_restoring = false;
    // Shown and not yet framed by the window manager: fitted once it is.
    bool m_fitPending = false;
};
