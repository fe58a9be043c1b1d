#include "shell/AppDelegate.h"

#include "base/DefaultsStore.h"
#include "focus/X11WindowSource.h"
#include "platform/FreedesktopNotifications.h"
#include "services/ZephylAPI.h"
#include "services/auth/WebAuthDialog.h"
#include "shell/AppIcon.h"
#include "shell/DeveloperService.h"
#include "shell/LoginItem.h"
#include "shell/Runtime.h"
#include "shell/RuntimeTrace.h"
#include "shell/SingleInstance.h"
#include "shell/UpdatePrompt.h"
#include "shell/Updates.h"

#include <QApplication>
#include <QTextStream>

DesktopServices::DesktopServices(std::optional<QSslCertificate> trustedOnLoopback)
    : m_windows(std::make_unique<X11WindowSource>()), m_notifications(std::make_unique<FreedesktopNotifications>())
{
    WindowSource::setSystem(m_windows.get());
    UserNotifications::setSystem(m_notifications.get());
    WebAuthDialogSession::install(std::move(trustedOnLoopback));
}

DesktopServices::~DesktopServices()
{
    WebAuthSession::setFactory({});
    WindowSource::setSystem(nullptr);
    UserNotifications::setSystem(nullptr);
}

AppDelegate::AppDelegate(SingleInstance &instance, QObject *parent) : QObject(parent), m_instance(instance)
{
    connect(&m_instance, &SingleInstance::activated, this, [this](const QStringList &links) {
        if (links.isEmpty())
            reopen();
        else
            open(links);
    });
}

AppDelegate::~AppDelegate()
{
    m_runtime.reset();
    Updates::setShared(nullptr);
}

void AppDelegate::applicationDidFinishLaunching(const QStringList &links)
{
    // An installed copy opens at login once; later changes come from the settings.
    if (Home::isInstalled() && !DefaultsStore::shared().boolValue(QStringLiteral("zephyl.mac.login.settled")).value_or(false))
        Home::setOpensAtLogin(true);

    QApplication::setWindowIcon(AppIcon::icon());
    // Running against the local stand-in over https: its certificate, named by
    // the developer's environment, is accepted for loopback addresses only, by
    // the web view, the sign-in dialog and the service client alike.
    const std::optional<QSslCertificate> standin = DeveloperService::trustedCertificate();
    if (standin)
        ZephylAPI::shared().trustOnLoopback(*standin);
    // Before the state object exists, so its flows find them.
    m_services = std::make_unique<DesktopServices>(standin);

    m_prompt = std::make_unique<UpdatePromptController>();
    m_updateWindows = std::make_unique<UpdateWindows>();
    m_engine = std::make_unique<UpdateEngine>(UpdateEngine::applicationConfig(), m_updateWindows.get());
    Updates::Environment environment;
    environment.applicationActive = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
    environment.runningBuild = [config = UpdateEngine::applicationConfig()] { return config.runningBuild; };
    m_updates = std::make_unique<Updates>(*m_engine, *m_prompt, environment);
    Updates::setShared(m_updates.get());
    connect(qApp, &QGuiApplication::applicationStateChanged, m_updates.get(), [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_updates->applicationBecameActive();
    });

    Runtime::Parts parts;
    parts.updates = m_updates.get();
    parts.webTrustedCertificate = standin;
    m_runtime = std::make_unique<Runtime>(std::move(parts));
    Runtime::setShared(m_runtime.get());
    if (RuntimeTrace::wanted())
        new RuntimeTrace(*m_runtime, m_runtime.get());
    m_runtime->start();
    open(links);
}

void AppDelegate::reopen()
{
    if (m_runtime)
        m_runtime->showWorkspace();
}

void AppDelegate::open(const QStringList &links)
{
    if (m_runtime && !links.isEmpty())
        m_runtime->open(links);
}

void AppDelegate::applicationWillTerminate()
{
    // Unsent text in the page is kept by the page's own store; the windows go
    // with the coordinator.
    m_runtime.reset();
    // The socket goes first, so a restarted copy becomes the one instance at once.
    m_instance.release();
    if (!m_engine)
        return;
    QString why;
    if (m_engine->staged() && !m_engine->finishOnQuit(&why))
        QTextStream(stderr) << "Zephyl Kitty: installing the update failed: " << why << Qt::endl;
}
