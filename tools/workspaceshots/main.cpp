// zephyl-screens: every screen of the native workspace and the companion
// settings window in light, dark and Arabic right-to-left, as PNG files, over
// a model signed in to an in-process stand-in (demo account kitty@example.com,
// meow-meow-meow) with a connected Instagram account, a plan and a conversation.
// Usage: zephyl-screens OUTPUT_FOLDER   (QT_QPA_PLATFORM=offscreen works)

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
    if (argc != 2) {
        QTextStream(stderr) << "usage: zephyl-screens OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const int failures = WorkspaceShots::run(
        {
            {"light", AppLanguage::en, AppTheme::light},
            {"dark", AppLanguage::en, AppTheme::dark},
            {"arabic-rtl", AppLanguage::ar, AppTheme::light},
            {"hebrew-dark", AppLanguage::he, AppTheme::dark},
        },
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
