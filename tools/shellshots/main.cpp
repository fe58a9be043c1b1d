// Pictures of the shell's own windows: the update prompt (with short, long and
// empty notes) and the tray menu, in light, dark and Arabic right-to-left.
// Usage: zephyl-shellshots OUTPUT_FOLDER   (QT_QPA_PLATFORM=offscreen works)
#include "design/AppTheme.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdatePrompt.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTextStream>

namespace {
class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream err(stderr), out(stdout);
    if (argc != 2) {
        err << "usage: zephyl-shellshots OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("."));
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());
    const struct {
        const char *name;
        AppLanguage language;
        AppTheme theme;
    } variants[] = {{"light", AppLanguage::en, AppTheme::light},
                    {"dark", AppLanguage::en, AppTheme::dark},
                    {"arabic-rtl", AppLanguage::ar, AppTheme::light}};
    const QString notes = QStringLiteral(
        "The cat naps more calmly and wakes when you come back.\n\nFocus rounds remember their length.\n\n"
        "<b>Markup</b> in notes is shown as typed.");
    int failures = 0;
    for (const auto &variant : variants) {
        L10n::setPreference(variant.language);
        QApplication::setLayoutDirection(L10n::layoutDirection());
        AppearanceService::shared().setTheme(variant.theme);
        const QString name = QString::fromLatin1(variant.name);
        const std::pair<const char *, QString> offers[] = {
            {"prompt", notes}, {"prompt-long", QStringList(40, notes).join(u'\n')}, {"prompt-empty", QString()}};
        for (const auto &[file, text] : offers) {
            UpdatePromptView view(UpdateOffer{QStringLiteral("12"), QStringLiteral("1.2"), text}, QStringLiteral("1.1"));
            view.adjustSize();
            const QString path = root.filePath(name + u'-' + QString::fromLatin1(file) + QStringLiteral(".png"));
            if (view.grab().save(path))
                out << path << "\n";
            else
                ++failures;
        }
        StatusMenu::State state;
        state.readyVersion = QStringLiteral("1.2");
        StatusMenuController tray([state] { return state; }, [](StatusMenu::Command) {});
        tray.menu()->aboutToShow();
        tray.menu()->adjustSize();
        const QString path = root.filePath(name + QStringLiteral("-tray-menu.png"));
        if (tray.menu()->grab().save(path))
            out << path << "\n";
        else
            ++failures;
    }
    return failures ? 1 : 0;
}
