#include "shell/AppDelegate.h"

#include "base/DefaultsStore.h"
#include "design/ComponentShowcase.h"
#include "shell/AppIcon.h"
#include "shell/LoginItem.h"
#include "shell/SingleInstance.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdatePrompt.h"
#include "shell/Updates.h"

#include <QApplication>
#include <QScrollArea>
#include <QTextStream>

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
    Updates::setShared(nullptr);
}

void AppDelegate::applicationDidFinishLaunching(const QStringList &links)
{
    // An installed copy opens at login once; later changes come from the settings.
    if (Home::isInstalled() && !DefaultsStore::shared().boolValue(QStringLiteral("zephyl.mac.login.settled")).value_or(false))
        Home::setOpensAtLogin(true);

    QApplication::setWindowIcon(AppIcon::icon());

    m_prompt = std::make_unique<UpdatePromptController>();
    m_updateWindows = std::make_unique<UpdateWindows>();
    m_engine = std::make_unique<UpdateEngine>(UpdateEngine::applicationConfig(), m_updateWindows.get());
    Updates::Environment environment;
    environment.applicationActive = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
    environment.runningBuild = [config = UpdateEngine::applicationConfig()] { return config.runningBuild; };
    m_updates = std::make_unique<Updates>(*m_engine, *m_prompt, environment);
    Updates::setShared(m_updates.get());
    m_updates->workspace = [this]() -> QObject * { return m_workspace.data(); };
    connect(qApp, &QGuiApplication::applicationStateChanged, m_updates.get(), [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_updates->applicationBecameActive();
    });

    m_statusMenu = std::make_unique<StatusMenuController>(
        [this] {
            StatusMenu::State state;
            state.readyVersion = m_updates->readyVersion();
            state.companionEnabled =
                DefaultsStore::shared().boolValue(QStringLiteral("zephyl.mac.companion.enabled")).value_or(true);
            return state;
        },
        [this](StatusMenu::Command command) {
            switch (command) {
            case StatusMenu::Command::installUpdate:
            case StatusMenu::Command::checkForUpdates:
                m_updates->checkNow();
                break;
            case StatusMenu::Command::openZephyl:
            case StatusMenu::Command::newPublication:
                showWorkspace();
                break;
            case StatusMenu::Command::quit:
                QApplication::quit();
                break;
            default:
                break;
            }
        });

    m_updates->start();
    showWorkspace();
    open(links);
}

void AppDelegate::showWorkspace()
{
    if (!m_workspace) {
        // The shared components, until the workspace window takes this place.
        auto *window = new QScrollArea;
        window->setWidgetResizable(true);
        window->setFrameShape(QFrame::NoFrame);
        window->setWidget(ComponentShowcase::page());
        window->setWindowTitle(QStringLiteral("Zephyl Kitty"));
        window->resize(1180, 860);
        m_workspace = window;
    }
    m_workspace->show();
    m_workspace->showNormal();
    m_workspace->raise();
    m_workspace->activateWindow();
}

void AppDelegate::reopen() { showWorkspace(); }

void AppDelegate::open(const QStringList &links)
{
    // The state object's link handling takes these once it is wired.
    if (!links.isEmpty())
        showWorkspace();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_workspace)
        delete m_workspace.data();
    // The socket goes first, so a restarted copy becomes the one instance at once.
    m_instance.release();
    if (!m_engine)
        return;
    QString why;
    if (m_engine->staged() && !m_engine->finishOnQuit(&why))
        QTextStream(stderr) << "Zephyl Kitty: installing the update failed: " << why << Qt::endl;
}
