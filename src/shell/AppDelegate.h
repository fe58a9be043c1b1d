#pragma once

#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QStringList>

#include <memory>
#include <optional>

class Runtime;
class SingleInstance;
class UserNotifications;
class WindowSource;
class UpdateEngine;
class UpdatePromptController;
class Updates;
class UpdateWindows;

// The session's window list (to tuck feeds away), its notification server and
// the browser sign-in dialog, the state object's own while this lives; without
// it they do nothing (a sign-in cannot start). `trustedOnLoopback`: a local
// stand-in's certificate, accepted by the sign-in dialog on loopback addresses.
class DesktopServices final {
public:
    explicit DesktopServices(std::optional<QSslCertificate> trustedOnLoopback = std::nullopt);
    ~DesktopServices();
    DesktopServices(const DesktopServices &) = delete;
    DesktopServices &operator=(const DesktopServices &) = delete;

private:
    std::unique_ptr<WindowSource> m_windows;
    std::unique_ptr<UserNotifications> m_notifications;
};

// The launch sequence and what reaches the application from outside: the first
// start, a second launch (with or without links), and the end of the process.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(SingleInstance &instance, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Registers the login item once for an installed copy, then starts the shell.
    void applicationDidFinishLaunching(const QStringList &links);
    // A second launch without links: the workspace comes forward.
    void reopen();
    // Links handed to the application, in order.
    void open(const QStringList &links);
    // After the event loop: installs a kept update and restarts when asked.
    void applicationWillTerminate();

    Updates &updates() const { return *m_updates; }
    Runtime *runtime() const { return m_runtime.get(); }

private:
    SingleInstance &m_instance;
    std::unique_ptr<DesktopServices> m_services;
    std::unique_ptr<UpdatePromptController> m_prompt;
    std::unique_ptr<UpdateWindows> m_updateWindows;
    std::unique_ptr<UpdateEngine> m_engine;
    std::unique_ptr<Updates> m_updates;
    std::unique_ptr<Runtime> m_runtime;
};
