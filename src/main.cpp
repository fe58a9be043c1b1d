#include "base/DefaultsStore.h"
#include "design/AppTheme.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/PasteGuard.h"
#include "design/QtWords.h"
#include "services/TlsLibrary.h"
#include "web/WebSchemes.h"
#include "shell/AppDelegate.h"
#include "shell/QuitOnSignals.h"
#include "shell/SingleInstance.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    TlsLibrary::leaveCleanupToTheSystem();
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zephyl-kitty"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zephyl Kitty"));
    QApplication::setDesktopFileName(QStringLiteral("zephyl-kitty"));
    // Closing the workspace window leaves the tray and the cat running.
    QApplication::setQuitOnLastWindowClosed(false);
    // The session's end (SIGTERM at logout) ends the loop, so what follows it (a
    // kept update installed, the socket given up) runs then too. A signal that
    // comes during start-up waits for the loop.
    QuitOnSignals quitOnSignals;

    // One instance per session: a second launch hands over its links and ends.
    SingleInstance instance;
    const QStringList links = SingleInstance::linksFrom(QApplication::arguments().mid(1));
    switch (instance.claim(links)) {
    case SingleInstance::Outcome::forwarded:
        return 0;
    case SingleInstance::Outcome::unanswered:
        QTextStream(stderr) << "Zephyl Kitty is already running but does not answer. Try again in a moment, or end "
                               "the running copy."
                            << Qt::endl;
        return 3;
    case SingleInstance::Outcome::failed:
        QTextStream(stderr) << "Zephyl Kitty: cannot listen on " << instance.socketPath()
                            << "; another launch will start a second copy." << Qt::endl;
        break;
    case SingleInstance::Outcome::primary:
        break;
    }

    // Until the application state exists, take the stored language and theme
    // directly; anything unknown means following the system.
    DefaultsStore &defaults = DefaultsStore::shared();
    const auto language = AppLanguages::fromRawValue(defaults.string(QStringLiteral("zephyl.mac.language")).value_or(QString()));
    L10n::setPreference(language.value_or(AppLanguage::system));
    const auto theme = AppThemes::fromRawValue(defaults.string(QStringLiteral("zephyl.mac.theme")).value_or(QString()));
    AppearanceService::shared().setTheme(theme.value_or(AppTheme::system));
    QApplication::setLayoutDirection(L10n::layoutDirection());
    QtWords::follow();
    // Every text box, Qt's own included (the file chooser's), pastes through it.
    PasteGuard::install();

    AppDelegate delegate(instance);
    delegate.applicationDidFinishLaunching(links);
    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
