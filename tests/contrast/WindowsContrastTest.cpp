// The windows outside the workspace, in light and dark, measured from their
// pixels: the ask panel, the focus clock and its menu, the tray menu and the
// window's menu bar, the update prompt and the updater's messages, the
// confirmation dialog and the cat's speech bubble.
#include <gtest/gtest.h>

#include "ContrastMeasure.h"
#include "app/AppModel.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionCanvas.h"
#include "companion/CompanionFigure.h"
#include "companion/CompanionVariant.h"
#include "companion/SpeechBubble.h"
#include "design/AppearanceService.h"
#include "design/FloatingPanel.h"
#include "design/L10n.h"
#include "shell/FocusTimerView.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdatePrompt.h"
#include "support/TestSupport.h"
#include "workspace/ScreenKit.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QUuid>

#include <algorithm>

using contrastcheck::measure;
using contrastcheck::measureGround;
using contrastcheck::measureMenu;
using namespace std::chrono_literals;

namespace {

class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};

struct Look {
    const char *name;
    AppTheme theme;
    // What lies under a translucent window: a plain desk of that appearance.
    QColor desk;
};
const Look kLooks[] = {{"light", AppTheme::light, QColor(0xc9, 0xd3, 0xdc)},
                       {"dark", AppTheme::dark, QColor(0x30, 0x33, 0x3a)}};

class WindowsContrast : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>()); }
    void SetUp() override
    {
        L10n::setPreference(AppLanguage::en);
        QApplication::setLayoutDirection(Qt::LeftToRight);
    }
    void TearDown() override { AppearanceService::shared().setTheme(AppTheme::light); }

    static void use(const Look &look) { AppearanceService::shared().setTheme(look.theme); }
};

// Until two pictures of the window taken apart are the same: entrances and
// eases have come to rest (a window that keeps moving gives up at the deadline).
void settle(QWidget &window)
{
    QImage last;
    zktest::spinUntil(
        [&] {
            QImage now = window.grab().toImage();
            const bool same = now == last;
            last = std::move(now);
            return same;
        },
        3s);
}

CatChatLine line(bool mine, const QString &text, CatLook look = CatLook::neutral, QList<AskAction> actions = {})
{
    return CatChatLine{QUuid::createUuid(), mine, text, look, std::move(actions)};
}

} // namespace

// Empty (the suggestion chips), in a conversation with the reply's chips and
// something typed, and while the cat thinks.
TEST_F(WindowsContrast, TheAskPanel)
{
    QStringList found;
    for (const Look &look : kLooks) {
        use(look);
        DefaultsStore store;
        AppModel::Environment env;
        env.defaults = &store;
        env.selectedVariantID = [] { return QStringLiteral("drawn"); };
        AppModel model(env);
        AskPanelController ask(model);
        ask.show(false);
        FloatingPanel &panel = *ask.panel();
        const QString where = QString::fromLatin1(look.name) + QStringLiteral("/ask ");
        ASSERT_TRUE(zktest::spinUntil([&] { return ask.view()->emptyState() != nullptr; }));
        settle(panel);
        EXPECT_FALSE(ask.view()->suggestionChips().isEmpty());
        found << measure(panel, where + QStringLiteral("empty"), look.desk);

        const QList<CatChatLine> chat = {
            line(true, L10n::t("An idea for a post")),
            line(false, QStringLiteral("A calm Reel of your morning desk: coffee and the plan for the week."),
                 CatLook::happy),
            line(false, QStringLiteral("Shall I put it in the plan?"), CatLook::curious,
                 {AskAction::make(QStringLiteral("a"), L10n::t("Tuck them away"), AskAction::Kind::tuckAway),
                  AskAction::make(QStringLiteral("b"), L10n::t("End session"), AskAction::Kind::stopFocus)})};
        model.setCatChat(chat);
        model.setAskInput(QStringLiteral("And a hashtag or two?"));
        ASSERT_TRUE(zktest::spinUntil([&] { return ask.view()->bubbles().size() == 3 && ask.view()->actionRow(); }));
        ASSERT_TRUE(zktest::spinUntil([&] { return ask.view()->sendButton()->readiness() == 1.0; }));
        settle(panel);
        found << measure(panel, where + QStringLiteral("conversation"), look.desk);

        model.setAskBusy(true);
        ASSERT_TRUE(zktest::spinUntil([&] { return ask.view()->typingRow() != nullptr; }));
        settle(panel);
        found << measure(panel, where + QStringLiteral("thinking"), look.desk);
        model.setAskBusy(false);
        ask.hide();
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// The clock keeps its own colours in both appearances; full, compact, paused,
// with its controls, and its menu.
TEST_F(WindowsContrast, TheFocusClockAndItsMenu)
{
    QStringList found;
    FakeClock clock;
    DefaultsStore store;
    AppModel::Environment env;
    env.defaults = &store;
    env.clock = &clock;
    AppModel model(env);
    for (const Look &look : kLooks) {
        use(look);
        const struct {
            const char *name;
            bool compact;
            FocusSession::Phase phase;
            bool hovering;
        } faces[] = {{"full", false, FocusSession::Phase::working(), false},
                     {"break", false, FocusSession::Phase::resting(), false},
                     {"paused with controls", false, FocusSession::Phase::paused(true), true},
                     {"compact", true, FocusSession::Phase::working(), false}};
        for (const auto &face : faces) {
            FocusSession session = model.focus();
            session.phase = face.phase;
            session.remaining = 24 * 60 + 13;
            model.setFocus(session);
            FocusTimerView view(model, face.compact);
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.show();
            if (face.hovering) {
                const QPointF middle(view.width() / 2.0, view.height() / 2.0);
                QMouseEvent move(QEvent::MouseMove, middle, middle, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(&view, &move);
                ASSERT_TRUE(zktest::spinUntil([&] { return view.controlsOpacity() == 1.0; }));
            }
            const QString where = QString::fromLatin1(look.name) + QStringLiteral("/clock ") + face.name;
            found << measure(view, where, look.desk);
            const std::unique_ptr<QMenu> menu = view.makeContextMenu();
            ASSERT_FALSE(menu->actions().isEmpty());
            menu->adjustSize();
            found << measureMenu(*menu, where + QStringLiteral(" menu"));
        }
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// The tray's menu and the workspace window's menu bar with its menu, an entry
// under the pointer among them, on the appearance's own grounds: the bar made
// in the light appearance turns dark with it.
TEST_F(WindowsContrast, TheTrayMenuAndTheWindowsMenuBar)
{
    QStringList found;
    QWidget window;
    QMenuBar *bar = StatusMenuController::makeMenuBar(
        &window, [] { return StatusMenu::State{}; }, [](StatusMenu::Command) {});
    QMenu *windowMenu = bar->actions().first()->menu();
    const struct {
        QRgb menu, bar;
    } grounds[] = {{0xFFFEFC, 0xF6F5F2}, {0x1A1A1A, 0x0B0B0B}};
    for (std::size_t i = 0; i < std::size(kLooks); ++i) {
        const Look &look = kLooks[i];
        use(look);
        const QString name = QString::fromLatin1(look.name);
        const auto measured = [&](QMenu &menu, const QString &where) {
            emit menu.aboutToShow();
            menu.adjustSize();
            menu.setActiveAction(menu.actions().first());
            found << measureMenu(menu, where);
            found << measureGround(menu, grounds[i].menu, where);
        };
        for (bool ready : {false, true}) {
            StatusMenu::State state;
            if (ready)
                state.readyVersion = QStringLiteral("1.2");
            StatusMenuController tray([state] { return state; }, [](StatusMenu::Command) {});
            measured(*tray.menu(), name + QStringLiteral("/tray"));
            EXPECT_GT(tray.menu()->actions().size(), 3);
        }
        measured(*windowMenu, name + QStringLiteral("/window menu"));
        bar->resize(bar->sizeHint());
        found << measureGround(*bar, grounds[i].bar, name + QStringLiteral("/menu bar"));
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// The prompt with notes and without, and the updater's plain messages.
TEST_F(WindowsContrast, TheUpdateWindows)
{
    QStringList found;
    for (const Look &look : kLooks) {
        use(look);
        const QString where = QString::fromLatin1(look.name) + QStringLiteral("/update ");
        for (const QString &notes : {QStringLiteral("The cat naps more calmly.\n\nFocus rounds remember their length."),
                                     QString()}) {
            UpdatePromptView view(UpdateOffer{QStringLiteral("12"), QStringLiteral("1.2"), notes},
                                  QStringLiteral("1.1"));
            view.adjustSize();
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.show();
            found << measure(view, where + (notes.isEmpty() ? QStringLiteral("prompt") : QStringLiteral("notes")));
        }
        UpdateWindows windows;
        windows.showUpToDate();
        QMessageBox *box = nullptr;
        ASSERT_TRUE(zktest::spinUntil([&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible())
                    box = b;
            return box != nullptr;
        }));
        EXPECT_EQ(windows.shownMessage(), L10n::t("You have the newest Zephyl Kitty."));
        found << measure(*box, where + QStringLiteral("message"));
        box->close();
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// The question before deleting: its words, Cancel and the action in the attention colour.
TEST_F(WindowsContrast, TheConfirmationDialog)
{
    QStringList found;
    for (const Look &look : kLooks) {
        use(look);
        auto *dialog = new ConfirmationDialog(
            L10n::t("Disconnect Instagram?"),
            L10n::t("Scheduled publications that have not gone out yet will not be able to publish until an "
                    "account is connected again."),
            L10n::t("Disconnect"), nullptr);
        dialog->open();
        ASSERT_TRUE(zktest::spinUntil([&] { return dialog->isVisible(); }));
        found << measure(*dialog, QString::fromLatin1(look.name) + QStringLiteral("/confirmation"));
        dialog->close();
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}

// What the cat says on the desktop (and through the tour): its words on the bubble.
TEST_F(WindowsContrast, TheSpeechBubble)
{
    for (const Look &look : kLooks) {
        use(look);
        SpeechBubble bubble;
        bubble.text = L10n::t("You have the newest Zephyl Kitty.");
        const QSizeF size = bubble.size();
        QImage image(size.toSize() + QSize(8, 8), QImage::Format_RGB32);
        image.fill(look.desk);
        QPainter painter(&image);
        painter.translate(4, 4);
        bubble.paint(painter);
        painter.end();
        const QRect words = bubble.textRect().translated(4, 4).toAlignedRect();
        // The bubble's fill is what most of the text's rectangle shows.
        QHash<QRgb, int> counts;
        for (int y = words.top(); y <= words.bottom(); ++y)
            for (int x = words.left(); x <= words.right(); ++x)
                ++counts[image.pixel(x, y)];
        const QRgb ground = std::max_element(counts.cbegin(), counts.cend()).key();
        double best = 1;
        for (int y = words.top(); y <= words.bottom(); ++y)
            for (int x = words.left(); x <= words.right(); ++x)
                best = std::max(best, contrastcheck::contrast(image.pixel(x, y), ground));
        EXPECT_GE(best, 4.5) << look.name;
    }
}

// The desktop cat in every state as the desktop canvas draws it, on light and
// dark windows whatever the appearance: other programs' windows lie behind it.
TEST_F(WindowsContrast, TheDesktopCat)
{
    QStringList found;
    const struct {
        const char *name;
        QColor window;
    } grounds[] = {{"light window", QColor(0xF6, 0xF5, 0xF2)},
                   {"light desk", QColor(0xc9, 0xd3, 0xdc)},
                   {"dark window", QColor(0x1A, 0x1A, 0x1A)},
                   {"dark desk", QColor(0x30, 0x33, 0x3a)}};
    for (const Look &look : kLooks) {
        use(look);
        for (const auto &ground : grounds) {
            for (CompanionState state : kAllCompanionStates) {
                constexpr int margin = 16;
                QImage image(int(CompanionFigure::kWidth) + 2 * margin, int(CompanionFigure::kHeight) + 2 * margin,
                             QImage::Format_RGB32);
                image.fill(ground.window);
                CanvasScene scene;
                scene.catShown = true;
                scene.figureFrame = QRectF(margin, margin, CompanionFigure::kWidth, CompanionFigure::kHeight);
                CompanionPose pose;
                pose.state = state;
                CanvasPainter canvas;
                QPainter painter(&image);
                painter.setRenderHint(QPainter::Antialiasing);
                canvas.paint(painter, scene, pose, CompanionVariant::drawn(), QString(), 0, false, image.rect());
                painter.end();
                const QString where =
                    QStringLiteral("%1 on a %2, state %3").arg(QString::fromLatin1(look.name), ground.name).arg(int(state));
                if (const auto line = contrastcheck::catShortfall(image, image.rect().adjusted(2, 2, -2, -2), where))
                    found << *line;
            }
        }
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
}
