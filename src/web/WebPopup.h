#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWebEnginePage;
class QWebEngineView;
class QWidget;

// A window the service's page opened to connect an Instagram account: its own
// web view at 640 by 760, titled, closable and resizable. It lives until its
// window closes, by the user or by the page's window.close().
class WebPopup final : public QObject {
    Q_OBJECT
public:
    WebPopup(QWebEnginePage *page, const QString &title, std::function<void(WebPopup *)> onClose,
             QObject *parent = nullptr);
    ~WebPopup() override;

    QWebEngineView *webView() const { return m_view; }
    QWidget *window() const { return m_window; }
    // Centres the window on `over`, or on its screen when there is none.
    void place(QWidget *over);
    void close();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;

    QPointer<QWidget> m_window;
    QWebEngineView *m_view = nullptr;
    std::function<void(WebPopup *)> m_onClose;
    bool m_closed = false;
};
