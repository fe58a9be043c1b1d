#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP end the application's event loop: the session ends
// a tray application with SIGTERM at logout, and what runs after the loop (a
// kept update is installed, the socket is given up) must run then too. No window
// can hold the end back. One at a time; the default handlers come back with it.
class QuitOnSignals final : public QObject {
    Q_OBJECT
public:
    // `quit` empty: QCoreApplication::exit(0).
    explicit QuitOnSignals(std::function<void()> quit = {}, QObject *parent = nullptr);
    ~QuitOnSignals() override;

    bool installed() const { return m_notifier != nullptr; }

private:
    std::function<void()> m_quit;
    QSocketNotifier *m_notifier = nullptr;
};
