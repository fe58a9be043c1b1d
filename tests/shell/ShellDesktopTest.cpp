// The shell on a desktop with a window manager and a session bus, without a
// tray host until a test starts one: the real executable's single instance and
// its menu bar, the tray icon and its menu, and the update prompt.
#include <gtest/gtest.h>

#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/L10n.h"
#include "shell/SingleInstance.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdatePrompt.h"
#include "platform/X11WindowList.h"
#include "support/TextPixels.h"
#include "support/X11TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocalSocket>
#include <QMenu>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextLayout>

#include <csignal>

namespace {

// The running application answers on its socket.
bool answering(const QString &path)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    return socket.waitForConnected(1000);
}

struct App {
    QProcess process;
    explicit App(const QStringList &arguments = {})
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(ZK_APP_BIN), arguments);
    }
    ~App()
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid_t(process.processId()), SIGCONT);
            process.kill();
            process.waitForFinished(10000);
        }
    }
    bool ended() const { return process.state() == QProcess::NotRunning; }
};

} // namespace

TEST(ShellInstance, SecondLaunchHandsItsLinkToTheFirstAndEnds)
{
    // This test process plays the first instance.
    SingleInstance first;
    ASSERT_EQ(first.claim({}), SingleInstance::Outcome::primary);
    QSignalSpy activated(&first, &SingleInstance::activated);

    App second({QStringLiteral("sorvane:cat/ask?q=%22hi%22"), QStringLiteral("--stray"),
                QStringLiteral("https://not-ours.example/")});
    ASSERT_TRUE(zktest::spinUntil([&] { return second.ended() && !activated.isEmpty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(second.process.exitCode(), 0);
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated.first().first().toStringList(), QStringList{QStringLiteral("sorvane:cat/ask?q=%22hi%22")});

    App plain;
    ASSERT_TRUE(zktest::spinUntil([&] { return plain.ended() && activated.size() == 2; }, std::chrono::seconds(60)));
    EXPECT_EQ(plain.process.exitCode(), 0);
    ASSERT_EQ(activated.size(), 2);
    EXPECT_TRUE(activated.last().first().toStringList().isEmpty());
}

TEST(ShellInstance, OneApplicationAStaleSocketIsTakenOverAndAHungOneIsNotWaitedForEver)
{
    const QString socket = SingleInstance::defaultSocketPath();
    auto first = std::make_unique<App>();
    ASSERT_TRUE(zktest::spinUntil([&] { return answering(socket) || first->ended(); }, std::chrono::seconds(60)));
    ASSERT_FALSE(first->ended()) << first->process.readAllStandardError().toStdString();

    App second({QStringLiteral("sorvane:demo")});
    ASSERT_TRUE(zktest::spinUntil([&] { return second.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(second.process.exitCode(), 0);
    EXPECT_FALSE(first->ended());

    // A first instance that stopped answering: the launch gives up and says so.
    ::kill(pid_t(first->process.processId()), SIGSTOP);
    App third;
    ASSERT_TRUE(zktest::spinUntil([&] { return third.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(third.process.exitCode(), 3);
    EXPECT_TRUE(third.process.readAllStandardError().contains("does not answer"));
    ::kill(pid_t(first->process.processId()), SIGCONT);

    // Killed: its socket file stays behind, and the next launch takes it over.
    first->process.kill();
    ASSERT_TRUE(first->process.waitForFinished(10000));
    first.reset();
    ASSERT_TRUE(QFileInfo::exists(socket));
    App next;
    ASSERT_TRUE(zktest::spinUntil([&] { return answering(socket) || next.ended(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(next.ended()) << next.process.readAllStandardError().toStdString();

    // The session ends it with SIGTERM: it quits through its loop (where a kept
    // update is installed) and gives its socket up.
    next.process.terminate();
    ASSERT_TRUE(zktest::spinUntil([&] { return next.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(next.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(socket));
}

TEST(ShellTray, IconInTheTrayAndAMenuBuiltWhenItOpens)
{
    L10n::setPreference(AppLanguage::en);
    zktest::TrayHost host;
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(zktest::spinUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    StatusMenu::State state;
    std::vector<StatusMenu::Command> ran;
    StatusMenuController controller([&state] { return state; }, [&ran](StatusMenu::Command c) { ran.push_back(c); });
    EXPECT_TRUE(controller.item()->isVisible());
    EXPECT_FALSE(controller.item()->icon().isNull());
    EXPECT_EQ(controller.item()->toolTip(), QStringLiteral("Zephyl Kitty"));
    ASSERT_TRUE(zktest::spinUntil([&] { return controller.item()->geometry().isValid(); }));

    // The titles as shown, mnemonics taken out.
    auto titles = [&] {
        QStringList out;
        for (const QAction *a : controller.menu()->actions())
            out << (a->isSeparator() ? QStringLiteral("---") : a->iconText());
        return out;
    };
    auto open = [&] {
        controller.menu()->popup(controller.item()->geometry().bottomLeft());
        EXPECT_TRUE(zktest::spinUntil([&] { return controller.menu()->isVisible(); }));
    };
    open();
    EXPECT_EQ(titles().first(), QStringLiteral("Ask the cat"));
    EXPECT_TRUE(titles().contains(QStringLiteral("Start focus (25 min)")));
    controller.menu()->hide();

    // What changed while it was closed shows the next time it opens.
    // A version as the feed names it, "&" included, is shown as it is.
    state.readyVersion = QStringLiteral("3.0 R&D");
    state.focus.phase = FocusSession::Phase::working();
    state.companionEnabled = false;
    open();
    EXPECT_EQ(titles().mid(0, 2), (QStringList{QStringLiteral("Update to 3.0 R&D and restart"), QStringLiteral("---")}));
    EXPECT_TRUE(titles().contains(QStringLiteral("End focus session")));
    for (QAction *a : controller.menu()->actions()) {
        if (a->iconText() == QStringLiteral("Show the companion")) {
            EXPECT_FALSE(a->isChecked());
        }
        if (a->iconText() == QStringLiteral("Show what the cat does"))
            a->trigger();
    }
    ASSERT_TRUE(zktest::spinUntil([&] { return !ran.empty(); }));
    EXPECT_EQ(ran, std::vector<StatusMenu::Command>{StatusMenu::Command::showDemo});
    controller.menu()->hide();
}

// The application on a desktop without a tray host: its workspace window is
// there from the start, and the keys of its menu bar reach the commands, Ctrl+,
// the companion settings and Ctrl+Q (pressed in the settings window: the keys
// work in every window of the application) the end of the application. Closed
// as the window manager closes it, with the cat switched off, the application
// runs on with nothing on screen: starting it again, as its desktop entry does,
// brings the window back.
TEST(ShellMenuBar, WithoutATrayHostTheWindowsKeysReachTheCommands)
{
    ASSERT_FALSE(X11::trayHostPresent()) << "this test's session starts without a tray host";
    // The native workspace: nothing to load from the service.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    ASSERT_TRUE(QDir().mkpath(config));
    QFile defaults(config + QStringLiteral("/defaults.json"));
    ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
    defaults.write(
        R"({"zephyl.mac.workspace.native": true, "zephyl.mac.language": "en", "zephyl.mac.companion.enabled": false})");
    defaults.close();
    qputenv("ZEPHYL_TRACE", "1");
    App app;
    qunsetenv("ZEPHYL_TRACE");
    QByteArray trace;
    auto traced = [&](const char *line, std::chrono::seconds limit = std::chrono::seconds(60)) {
        return zktest::spinUntil([&] {
            trace += app.process.readAllStandardError();
            return trace.contains(QByteArray("trace: ") + line + '\n') || app.ended();
        }, limit) && trace.contains(QByteArray("trace: ") + line + '\n');
    };
    auto workspaceWindow = [&]() -> uint32_t {
        for (const X11::ClientWindow &w : X11::readClientWindows(X11::fieldTitle))
            if (w.pid == uint32_t(app.process.processId()) && w.title.startsWith(QStringLiteral("Zephyl \u2014")) && w.viewable)
                return w.id;
        return 0;
    };
    ASSERT_TRUE(traced("started")) << trace.toStdString();
    ASSERT_TRUE(zktest::spinUntil([&] { return workspaceWindow() != 0; })) << "the workspace window shows at start";
    QString window = QString::number(workspaceWindow());

    zktest::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    ASSERT_TRUE(traced("keyboard: Zephyl")) << trace.toStdString();
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
    EXPECT_TRUE(traced("companion settings: shown")) << trace.toStdString();
    // From the keyboard there: Tab reaches the first switch, told by the name
    // of its row as it shows no words; Ctrl+W closes the window, and Escape.
    ASSERT_TRUE(traced("keyboard: Your cat")) << trace.toStdString();
    bool named = false;
    for (int press = 0; press < 12 && !named; ++press) {
        zktest::xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        named = traced("focus on: Show the cat on the desktop", std::chrono::seconds(2));
    }
    EXPECT_TRUE(named) << trace.toStdString();
    for (const QString &keys : {QStringLiteral("ctrl+w"), QStringLiteral("Escape")}) {
        trace.clear();
        zktest::xdotool({QStringLiteral("key"), keys});
        EXPECT_TRUE(traced("companion settings: hidden")) << keys.toStdString() << trace.toStdString();
        zktest::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        ASSERT_TRUE(traced("keyboard: Zephyl")) << trace.toStdString();
        zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
        ASSERT_TRUE(traced("companion settings: shown") && traced("keyboard: Your cat")) << trace.toStdString();
    }

    ASSERT_EQ(QProcess::execute(QStringLiteral(ZK_XCLOSE_BIN), {window, QStringLiteral("30")}), 0);
    EXPECT_EQ(workspaceWindow(), 0u);
    EXPECT_FALSE(app.ended()) << "closing the window leaves the application running";
    App again;
    ASSERT_TRUE(zktest::spinUntil([&] { return again.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(again.process.exitCode(), 0) << "the second start hands over to the running one";
    ASSERT_TRUE(zktest::spinUntil([&] { return workspaceWindow() != 0; })) << "the window is back";
    window = QString::number(workspaceWindow());

    // Ctrl+Q ends it from the companion settings window too.
    trace.clear();
    zktest::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    ASSERT_TRUE(traced("keyboard: Zephyl")) << trace.toStdString();
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
    ASSERT_TRUE(traced("keyboard: Your cat")) << trace.toStdString();
    zktest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
    ASSERT_TRUE(zktest::spinUntil([&] { return app.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process.exitCode(), 0);
    defaults.remove();
}

TEST(ShellUpdatePrompt, StandAloneOrSheetPlainNotesAndItsKeys)
{
    L10n::setPreference(AppLanguage::en);
    UpdatePromptController prompt;
    int updates = 0, laters = 0;
    const QString markup = QStringLiteral("<b>bold</b> & <img src=x onerror=alert(1)> <a href='https://evil'>link</a>");

    // No visible workspace window: a window of its own that takes the keyboard.
    prompt.show(UpdateOffer{"2", "1.1", markup}, nullptr, [&] { ++updates; }, [&] { ++laters; });
    ASSERT_TRUE(prompt.isVisible());
    ASSERT_TRUE(zktest::spinUntil([&] { return prompt.panel()->isActiveWindow(); }));
    EXPECT_EQ(prompt.panel()->width(), 470);
    EXPECT_EQ(prompt.panel()->windowModality(), Qt::NonModal);
    bool notesShownAsTyped = false;
    for (const QLabel *label : prompt.panel()->findChildren<QLabel *>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        notesShownAsTyped = notesShownAsTyped || label->text() == markup;
    }
    EXPECT_TRUE(notesShownAsTyped);
    // A second show while it is up is ignored.
    prompt.show(UpdateOffer{"3", "1.2", {}}, nullptr, [] {}, [] {});
    QTest::keyClick(prompt.panel(), Qt::Key_Escape);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_EQ(laters, 1);
    EXPECT_EQ(updates, 0);

    // A visible workspace window: a sheet on it, in the dark with notes to
    // scroll through the palette's thin thumb; Return updates.
    AppearanceService::shared().setTheme(AppTheme::dark);
    QWidget workspace;
    workspace.resize(900, 640);
    workspace.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&workspace));
    const QString longNotes = QStringList(60, QStringLiteral("A line of the notes.")).join(u'\n');
    prompt.show(UpdateOffer{"2", "1.1", longNotes}, &workspace, [&] { ++updates; }, [&] { ++laters; });
    ASSERT_TRUE(prompt.isVisible());
    EXPECT_EQ(prompt.panel()->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(prompt.hasSheet(&workspace));
    const auto *scroll = prompt.panel()->findChild<QScrollArea *>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->height(), 160);
    EXPECT_EQ(zktest::darkScrollBarFault(scroll->verticalScrollBar()).toStdString(), "");
    AppearanceService::shared().setTheme(AppTheme::system);
    const int tall = prompt.panel()->height();
    // Tab goes between the two buttons, never to the notes, which Page Down scrolls.
    prompt.panel()->activateWindow();
    ASSERT_TRUE(zktest::spinUntil([&] { return QApplication::focusWidget() != nullptr; }));
    QSet<QWidget *> stops;
    for (int press = 0; press < 4; ++press)
        QTest::keyClick(*stops.insert(QApplication::focusWidget()), Qt::Key_Tab);
    const QList<StyledButton *> buttons = prompt.panel()->findChildren<StyledButton *>();
    EXPECT_EQ(stops, QSet<QWidget *>(buttons.begin(), buttons.end()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    QTest::keyClick(prompt.panel(), Qt::Key_Return);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_FALSE(prompt.hasSheet(&workspace));

    // Empty notes: no notes area, a shorter window; the close button is Later.
    prompt.show(UpdateOffer{"2", "1.1", {}}, &workspace, [&] { ++updates; }, [&] { ++laters; });
    EXPECT_EQ(prompt.panel()->findChild<QScrollArea *>(), nullptr);
    EXPECT_LT(prompt.panel()->height(), tall);
    prompt.panel()->close();
    EXPECT_EQ(laters, 2);
    EXPECT_FALSE(prompt.isVisible());
}

// The version step reads from the running version to the new one in every
// language: laid out as the label draws it, the old version comes first from
// the left, so the arrow points at the new one.
TEST(ShellUpdatePrompt, VersionStepPointsAtTheNewVersionInRightToLeftLanguages)
{
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::ar, AppLanguage::he}) {
        SCOPED_TRACE(int(language));
        L10n::setPreference(language);
        UpdatePromptView view(UpdateOffer{QStringLiteral("12"), QStringLiteral("1.2"), {}}, QStringLiteral("1.1"));
        const QLabel *step = nullptr;
        for (const QLabel *label : view.findChildren<QLabel *>()) {
            if (label->text() == QStringLiteral("1.1 \u2192 1.2"))
                step = label;
        }
        ASSERT_NE(step, nullptr);
        QTextLayout layout(step->text(), step->font());
        QTextOption option;
        option.setTextDirection(step->layoutDirection());
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(1000);
        layout.endLayout();
        // Inside each version text, clear of the run boundaries.
        EXPECT_LT(line.cursorToX(1), line.cursorToX(step->text().indexOf(QStringLiteral("1.2")) + 1));
    }
    L10n::setPreference(AppLanguage::en);
}
