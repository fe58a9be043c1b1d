// zephyl-screens: every screen of the native workspace and the companion
// settings window in light, dark and Arabic right-to-left, as PNG files, over
// a model signed in to an in-process stand-in (demo account kitty@example.com,
// meow-meow-meow) with a connected Instagram account, a plan and a conversation.
// Usage: zephyl-screens OUTPUT_FOLDER [LANGUAGE...]   (QT_QPA_PLATFORM=offscreen works)
// Languages named by their codes (de, nl, ...) are shown light and dark in
// place of the usual four variants.

#include "WorkspaceShots.h"
#include "web/WebSchemes.h"

#include <QApplication>
#include <QDir>
#include <QTextStream>
#include <QWidget>

int main(int argc, char **argv)
{
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: zephyl-screens OUTPUT_FOLDER [LANGUAGE...]\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    std::vector<WorkspaceShots::Variant> variants = {
        {"light", AppLanguage::en, AppTheme::light},
        {"dark", AppLanguage::en, AppTheme::dark},
        {"arabic-rtl", AppLanguage::ar, AppTheme::light},
        {"hebrew-dark", AppLanguage::he, AppTheme::dark},
    };
    std::vector<QByteArray> names; // the variants' names live as long as the run
    if (argc > 2) {
        variants.clear();
        names.reserve(size_t(2 * (argc - 2)));
        for (int i = 2; i < argc; ++i) {
            const std::optional<AppLanguage> language = AppLanguages::fromRawValue(QString::fromLatin1(argv[i]));
            if (!language || *language == AppLanguage::system) {
                QTextStream(stderr) << "zephyl-screens: no language " << argv[i] << "\n";
                return 2;
            }
            for (AppTheme theme : {AppTheme::light, AppTheme::dark}) {
                names.push_back(QByteArray(argv[i]) + (theme == AppTheme::light ? "-light" : "-dark"));
                variants.push_back({names.back().constData(), *language, theme});
            }
        }
    }
    const int failures = WorkspaceShots::run(
        variants,
        [&root](QWidget &window, const QString &variant, const QString &name) {
            root.mkpath(variant);
            const QString path = root.filePath(variant + QLatin1Char('/') + name + QStringLiteral(".png"));
            if (!window.grab().save(path))
                return false;
            QTextStream(stdout) << path << Qt::endl;
            return true;
        });
    if (failures)
        QTextStream(stderr) << failures << " picture(s) could not be made\n";
    return failures ? 1 : 0;
}
