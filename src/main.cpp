#include "design/L10n.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zephyl-kitty"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zephyl Kitty"));
    QApplication::setLayoutDirection(L10n::layoutDirection());
    QLabel label(L10n::t("Open Zephyl"));
    label.setTextFormat(Qt::PlainText);
    label.resize(480, 320);
    label.show();
    return app.exec();
}
