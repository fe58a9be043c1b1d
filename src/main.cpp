#include "base/DefaultsStore.h"
#include "design/AppTheme.h"
#include "design/AppearanceService.h"
#include "design/ComponentShowcase.h"
#include "design/L10n.h"
#include "services/auth/WebSchemes.h"

#include <QApplication>
#include <QScrollArea>

int main(int argc, char **argv)
{
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zephyl-kitty"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zephyl Kitty"));

    // Until the application state exists, take the stored language and theme
    // directly; anything unknown means following the system.
    DefaultsStore &defaults = DefaultsStore::shared();
    const auto language = AppLanguages::fromRawValue(defaults.string(QStringLiteral("zephyl.mac.language")).value_or(QString()));
    L10n::setPreference(language.value_or(AppLanguage::system));
    const auto theme = AppThemes::fromRawValue(defaults.string(QStringLiteral("zephyl.mac.theme")).value_or(QString()));
    AppearanceService::shared().setTheme(theme.value_or(AppTheme::system));
    QApplication::setLayoutDirection(L10n::layoutDirection());

    // The shared components, until the shell takes this place.
    QScrollArea window;
    window.setWidgetResizable(true);
    window.setFrameShape(QFrame::NoFrame);
    window.setWidget(ComponentShowcase::page());
    window.setWindowTitle(QStringLiteral("Zephyl Kitty"));
    window.resize(1180, 860);
    window.show();
    return app.exec();
}
