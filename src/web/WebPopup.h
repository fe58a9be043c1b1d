#pragma once

#include <QObject>
#include <QPointer>

#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>

class QWebEnginePage;
class QWebEngineView;
class QMargins;
class QWidget;

// A window the service's page opened to connect an Instagram account: its own
// web view at 640 by 760, titled, closable and resizable. It lives until its
// window closes, by the user or by the page's window.close().
class WebPopup final : public QObject {
    Q_OBJECT
public:
    // `title` words the window's title, now and after each change of language.
    WebPopup(QWebEnginePage *page, std::function<QString()> title, std::function<void(WebPopup *)> onClose,
             QObject *parent = nullptr);
    ~WebPopup() override;

    QWebEngineView *webView() const { return m_view; }
    QWidget *window() const { return m_window; }
    // Centres the framed window on `over`'s frame, or on the primary monitor
    // when there is none, as far as the work area of that monitor lets it: the
    // whole framed window stays inside that area. The window manager's frame is only known
    // once it has mapped the window: the frame of `over` stands in until then,
    // and the window is put right once when its own frame arrives.
    void place(QWidget *over);
    void close();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Moves (and sizes) the window to its place around `centre` for this frame.
    void fit(QPoint centre, const QMargins &frame);

    QPointer<QWidget> m_window;
    QWebEngineView *m_view = nullptr;
    std::function<void(WebPopup *)> m_onClose;
    bool m_closed = false;
    // Where the frame's centre belongs while the first frame is awaited, and
    // the work area it must keep within.
    std::optional<QPoint> m_centre;
    QRect m_area;
};
