// Every native screen (a draft's menu on the plan and the grid too), the
// companion settings window and the web workspace's own scenes, in light and
// dark, measured from their pixels as WCAG 2.1 asks: text against its ground
// at least 4.5:1 (3:1 when large), buttons' fill or outline and the drawn
// cat's edge against what is behind them at least 3:1.
#include <gtest/gtest.h>

#include "ContrastMeasure.h"
#include "WorkspaceShots.h"
#include "base/DefaultsStore.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "support/TestSupport.h"
#include "web/WebWorkspace.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/WebWorkspaceScreen.h"

#include <QLabel>
#include <QMenu>
#include <QTcpServer>
#include <QWidget>

#include <memory>

using contrastcheck::contrast;
using contrastcheck::measure;

// The measure itself, on drawings whose answer is known.
TEST(Contrast, TheMeasureTellsVisibleFromFaint)
{
    EXPECT_NEAR(contrast(qRgb(0, 0, 0), qRgb(255, 255, 255)), 21.0, 0.01);
    EXPECT_NEAR(contrast(qRgb(36, 31, 26), qRgb(11, 11, 11)), 1.2, 0.05);
    QWidget window;
    window.resize(300, 120);
    window.setStyleSheet(QStringLiteral("background: rgb(11, 11, 11);"));
    auto *faint = new QLabel(QStringLiteral("Faint words"), &window);
    faint->setStyleSheet(QStringLiteral("color: rgb(40, 40, 40);"));
    faint->setGeometry(10, 10, 200, 30);
    auto *clear = new QLabel(QStringLiteral("Clear words"), &window);
    clear->setStyleSheet(QStringLiteral("color: rgb(245, 245, 243);"));
    clear->setGeometry(10, 60, 200, 30);
    window.show();
    const QStringList found = measure(window, QStringLiteral("sample"));
    ASSERT_EQ(found.size(), 1) << found.join(u'\n').toStdString();
    EXPECT_TRUE(found.first().contains(QStringLiteral("Faint words")));

    // A button known by its fill: white on white melts away, near-black stands out.
    QWidget white;
    white.resize(300, 120);
    white.setStyleSheet(QStringLiteral("background: rgb(255, 255, 255);"));
    auto *melting = new StyledButton(QStringLiteral("Melting"), PrimaryButtonStyle(), &white);
    melting->setFixedAppearance(Appearance::dark);
    melting->move(10, 10);
    auto *standing = new StyledButton(QStringLiteral("Standing"), PrimaryButtonStyle(), &white);
    standing->setFixedAppearance(Appearance::light);
    standing->move(10, 64);
    white.show();
    const QStringList buttons = measure(white, QStringLiteral("sample"));
    ASSERT_EQ(buttons.size(), 1) << buttons.join(u'\n').toStdString();
    EXPECT_TRUE(buttons.first().contains(QStringLiteral("button \"Melting\"")));

    // Menu entries in black, then in pale grey, on white.
    QMenu menu;
    menu.setStyleSheet(QStringLiteral("QMenu { background: white; } QMenu::item { color: black; }"
                                      "QMenu::item:disabled { color: rgb(220, 220, 220); }"));
    menu.addAction(QStringLiteral("Open"));
    menu.addAction(QStringLiteral("Later"))->setEnabled(false);
    menu.adjustSize();
    // Disabled entries are exempt; enabled ones are measured.
    EXPECT_TRUE(contrastcheck::measureMenu(menu, QStringLiteral("menu")).isEmpty());
    menu.setStyleSheet(QStringLiteral("QMenu { background: white; } QMenu::item { color: rgb(220, 220, 220); }"));
    const QStringList entries = contrastcheck::measureMenu(menu, QStringLiteral("menu"));
    ASSERT_EQ(entries.size(), 1) << entries.join(u'\n').toStdString();
    EXPECT_TRUE(entries.first().contains(QStringLiteral("\"Open\"")));
}

TEST(Contrast, EveryNativeScreenInLightAndDark)
{
    QStringList found;
    int states = 0;
    const int failures = WorkspaceShots::run(
        {{"light", AppLanguage::en, AppTheme::light}, {"dark", AppLanguage::en, AppTheme::dark}},
        [&](QWidget &window, const QString &variant, const QString &name) {
            ++states;
            const QString where = variant + u'/' + name;
            found << measure(window, where);
            // A draft's menu, on the plan and on the grid, an entry under the pointer.
            std::unique_ptr<QMenu> menu;
            if (auto *plan = window.findChild<PlanView *>(); plan && name == QLatin1String("plan")) {
                for (PlanRow *row : plan->rows())
                    if (row->entry().draft && !menu)
                        menu.reset(plan->menuFor(row->entry(), plan));
            } else if (auto *grid = window.findChild<GridView *>(); grid && name == QLatin1String("grid")) {
                if (const auto *tile = grid->findChild<DraftTile *>())
                    menu.reset(grid->menuFor(tile->draft(), grid));
            } else {
                return true;
            }
            if (!menu) {
                found << where + QStringLiteral(": no draft's menu");
                return true;
            }
            menu->adjustSize();
            menu->setActiveAction(menu->actions().first());
            found << contrastcheck::measureMenu(*menu, where + QStringLiteral(" menu"));
            found << contrastcheck::measureGround(*menu, variant == QLatin1String("dark") ? 0x1A1A1A : 0xFFFEFC,
                                                  where + QStringLiteral(" menu"));
            return true;
        });
    EXPECT_EQ(failures, 0);
    EXPECT_GT(states, 40);
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// The failure and outdated scenes stand on a ground that is dark in both appearances.
TEST(Contrast, TheWebWorkspacesOwnScenesInLightAndDark)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    QStringList found;
    for (AppTheme theme : {AppTheme::light, AppTheme::dark}) {
        AppearanceService::shared().setTheme(theme);
        const QString name = theme == AppTheme::light ? QStringLiteral("light") : QStringLiteral("dark");
        WebWorkspace::Options options;
        options.storageName = QStringLiteral("contrast-") + name;
        WebWorkspace web(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)), options);
        WebWorkspaceScreen screen(&web);
        screen.openSoftwareUpdate = [] {};
        screen.resize(1000, 700);
        screen.show();
        web.start();
        ASSERT_TRUE(zktest::spinUntil(
            [&] { return web.phase().kind == WebWorkspaceModel::Phase::Kind::failed && !screen.animating(); }));
        found << measure(screen, name + QStringLiteral("/failed"));

        options.storageName += QStringLiteral("-old");
        WebWorkspace old(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)), options);
        WebWorkspaceScreen outdated(&old);
        outdated.openSoftwareUpdate = [] {};
        outdated.resize(1000, 700);
        outdated.show();
        DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
        old.start();
        DefaultsStore::shared().remove(QStringLiteral("zephyl.mac.rehearse.oldWebKit"));
        ASSERT_TRUE(outdated.outdatedScene()->isVisible());
        ASSERT_TRUE(zktest::spinUntil([&] { return !outdated.animating(); })) << "faded in";
        found << measure(outdated, name + QStringLiteral("/outdated"));
    }
    AppearanceService::shared().setTheme(AppTheme::light);
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}
