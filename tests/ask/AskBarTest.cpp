// The conversation card over the scripted service: the empty state and its
// chips, the list with its typing dots and the last reply's chips, sending,
// the size it reports, and the right-to-left layout.

#include "AskTestSupport.h"

#include "ask/AskBarView.h"
#include "ask/CatFace.h"
#include "design/ButtonStyles.h"
#include "design/ChatText.h"
#include "design/GrowingTextField.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace asktest;
using flowtest::Reply;

namespace {

QStringList titles(const QList<StyledButton *> &buttons)
{
    QStringList out;
    for (const StyledButton *b : buttons)
        out << b->text();
    return out;
}

QStringList texts(const QList<ChatBubble *> &bubbles)
{
    QStringList out;
    for (const ChatBubble *b : bubbles)
        out << (b->mine() ? QStringLiteral("me: ") : QStringLiteral("cat: ")) + b->text();
    return out;
}

void click(QAbstractButton *button)
{
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    settle();
}

ZephylWire::AssistantReply reply(const QString &text, const QStringList &labels = {})
{
    ZephylWire::AssistantReply r;
    r.message = text;
    for (const QString &label : labels) {
        ZephylWire::AssistantReply::Action a;
        a.id = label.toLower();
        a.label = label;
        r.actions << a;
    }
    return r;
}

class AskBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model().setSession(SessionState::signedIn);
        bridge.close = [this] { ++closes; };
        bridge.sizeChanged = [this](QSizeF size) { sizes << size; };
    }
    AskBarView &show()
    {
        view = std::make_unique<AskBarView>(model(), bridge);
        view->show();
        view->resize(view->idealSize());
        settle();
        return *view;
    }
    AppModel &model() { return flows.model(); }

    flowtest::Flows flows;
    AskPanelBridge bridge;
    int closes = 0;
    QList<QSizeF> sizes;
    std::unique_ptr<AskBarView> view;
};

TEST_F(AskBarTest, AnEmptyConversationGreetsWithFourChipsAndNoNewConversationButton)
{
    AskBarView &bar = show();
    ASSERT_NE(bar.emptyState(), nullptr);
    EXPECT_TRUE(bar.emptyState()->isVisible());
    EXPECT_FALSE(bar.history()->isVisible());
    EXPECT_EQ(texts(bar.bubbles()),
              (QStringList{"cat: Hi! I'm right here. Talk to me about anything: how your day is going, an idea for a "
                           "post, or a focus round."}));
    EXPECT_EQ(titles(bar.suggestionChips()),
              (QStringList{"How are you?", "Cheer me up", "An idea for a post", "Let's focus for 25 minutes"}));
    // Two rows of two, under the greeting's bubble.
    const auto chips = bar.suggestionChips();
    EXPECT_EQ(chips[0]->y(), chips[1]->y());
    EXPECT_EQ(chips[2]->y(), chips[3]->y());
    EXPECT_GT(chips[2]->y(), chips[0]->y());
    EXPECT_EQ(chips[0]->mapTo(&bar, QPoint()).x(), 18 + 38);
    EXPECT_FALSE(bar.newConversationButton()->isVisible());
    EXPECT_TRUE(bar.closeButton()->isVisible());
    EXPECT_EQ(bar.statusText()->text(), QStringLiteral("Listening."));
    EXPECT_EQ(bar.nameText()->text(), QStringLiteral("Drawn"));
    EXPECT_EQ(bar.field()->placeholderText(), QStringLiteral("Ask anything…"));
    EXPECT_EQ(bar.sendButton()->toolTip(), QStringLiteral("Send"));
    EXPECT_EQ(bar.closeButton()->toolTip(), QStringLiteral("Close"));
    EXPECT_EQ(bar.newConversationButton()->toolTip(), QStringLiteral("New conversation"));
    // The drawn look has no film: the header shows its still face.
    EXPECT_EQ(bar.headFilm(), nullptr);
    ASSERT_NE(bar.headFace(), nullptr);
    EXPECT_EQ(bar.headFace()->look(), CatLook::neutral);
}

TEST_F(AskBarTest, AChipAsksWithItsTitleAndLeavesTheFieldAlone)
{
    model().setAskInput(QStringLiteral("half a thought"));
    flows.service.held << QStringLiteral("assistant");
    AskBarView &bar = show();
    click(bar.suggestionChips().value(1));

    EXPECT_EQ(flows.service.questions, (QStringList{"Cheer me up"}));
    EXPECT_EQ(model().askInput(), QStringLiteral("half a thought"));
    EXPECT_EQ(bar.field()->text(), QStringLiteral("half a thought"));
    // The list replaces the greeting: the user's line, then the typing dots.
    EXPECT_EQ(bar.emptyState(), nullptr);
    EXPECT_TRUE(bar.history()->isVisible());
    EXPECT_EQ(texts(bar.bubbles()), (QStringList{"me: Cheer me up"}));
    ASSERT_NE(bar.typingRow(), nullptr);
    EXPECT_TRUE(bar.typingRow()->isVisible());
    EXPECT_EQ(bar.statusText()->text(), QStringLiteral("Thinking…"));
    EXPECT_TRUE(bar.newConversationButton()->isVisible());
    // While answering, another chip or Return asks nothing more.
    bar.send(QStringLiteral("again"));
    bar.submit();
    EXPECT_EQ(flows.service.questions.size(), 1);

    flows.service.release("assistant", Reply::of(reply(QStringLiteral("Here is a purr."))));
    settle();
    EXPECT_EQ(texts(bar.bubbles()), (QStringList{"me: Cheer me up", "cat: Here is a purr."}));
    EXPECT_EQ(bar.typingRow(), nullptr);
    EXPECT_EQ(bar.statusText()->text(), QStringLiteral("Listening."));

    // A new conversation brings the greeting back.
    click(bar.newConversationButton());
    EXPECT_TRUE(model().catChat().isEmpty());
    ASSERT_NE(bar.emptyState(), nullptr);
    EXPECT_FALSE(bar.newConversationButton()->isVisible());
}

TEST_F(AskBarTest, BlankTextKeepsSendOffAndWhatWasTyped)
{
    AskBarView &bar = show();
    bar.field()->setFocus();
    model().setAskInput(QStringLiteral("  \n\t "));
    settle();
    EXPECT_FALSE(bar.canSend());
    EXPECT_FALSE(bar.sendButton()->isEnabled());
    EXPECT_EQ(bar.sendButton()->fillColor(), PaletteColors::color(ZephylPalette::Color::surfaceStrong));
    EXPECT_EQ(bar.sendButton()->arrowColor(), PaletteColors::color(ZephylPalette::Color::muted));
    QTest::keyClick(bar.field(), Qt::Key_Return);
    settle();
    bar.submit();
    EXPECT_TRUE(flows.service.questions.isEmpty());
    EXPECT_TRUE(model().catChat().isEmpty());
    EXPECT_EQ(model().askInput(), QStringLiteral("  \n\t "));
}

TEST_F(AskBarTest, SubmittingSendsTheTrimmedWordAndEmptiesTheField)
{
    flows.service.results[QStringLiteral("assistant")] = reply(QStringLiteral("Meow."));
    AskBarView &bar = show();
    QTest::keyClicks(bar.field(), QStringLiteral("  purr  "));
    settle();
    EXPECT_EQ(model().askInput(), QStringLiteral("  purr  "));
    EXPECT_TRUE(bar.canSend());
    EXPECT_TRUE(bar.sendButton()->isEnabled());
    QTest::keyClick(bar.field(), Qt::Key_Return);
    settle();
    EXPECT_EQ(flows.service.questions, (QStringList{"purr"}));
    EXPECT_EQ(model().askInput(), QString());
    EXPECT_EQ(bar.field()->text(), QString());
    EXPECT_EQ(texts(bar.bubbles()), (QStringList{"me: purr", "cat: Meow."}));

    // The send button does the same.
    QTest::keyClicks(bar.field(), QStringLiteral("\tnap "));
    settle();
    click(bar.sendButton());
    EXPECT_EQ(flows.service.questions, (QStringList{"purr", "nap"}));
}

TEST_F(AskBarTest, TheSendButtonEasesBetweenMutedAndReady)
{
    FakeClock clock;
    Clock::setShared(&clock);
    AskBarView &bar = show();
    SendButton *send = bar.sendButton();
    using ZephylPalette::Color;
    const QColor quiet = PaletteColors::color(Color::surfaceStrong), accent = PaletteColors::color(Color::accent);
    EXPECT_EQ(send->size(), QSize(36, 36));
    EXPECT_EQ(send->toolTip(), QStringLiteral("Send"));
    EXPECT_EQ(send->accessibleName(), QStringLiteral("Send"));
    EXPECT_EQ(send->fillColor(), quiet);

    // Ready at once, its colours eased out over 0.14 s: well past half-way at half the time.
    model().setAskInput(QStringLiteral("purr"));
    EXPECT_TRUE(send->isEnabled());
    clock.advance(std::chrono::milliseconds(64));
    EXPECT_GT(send->readiness(), 0.6);
    EXPECT_LT(send->readiness(), 1.0);
    EXPECT_GT(send->fillColor().redF(), std::min(quiet.redF(), accent.redF()) - 1e-3);
    EXPECT_LT(send->fillColor().redF(), std::max(quiet.redF(), accent.redF()) + 1e-3);
    clock.advance(std::chrono::milliseconds(80));
    EXPECT_EQ(send->readiness(), 1.0);
    EXPECT_EQ(send->fillColor(), accent);
    // The light label on the accent would read 2.9:1; the arrow takes the text colour.
    EXPECT_EQ(send->arrowColor(), QColor(0x201F1C));

    // While the cat answers it is off again, and eases back.
    model().setAskBusy(true);
    EXPECT_FALSE(send->isEnabled());
    clock.advance(std::chrono::milliseconds(144));
    EXPECT_EQ(send->fillColor(), quiet);
    EXPECT_EQ(send->arrowColor(), PaletteColors::color(Color::muted));
    model().setAskBusy(false);
    view.reset();
    Clock::setShared(nullptr);
}

TEST_F(AskBarTest, NewRowsComeInOnTheSpringTheStatusCrossFadesAndThoseFirstShownAreThere)
{
    FakeClock clock;
    Clock::setShared(&clock);
    using ZephylPalette::Color;
    auto opacity = [](QWidget *row) {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(row->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    };
    model().setCatChat({line(true, QStringLiteral("Hi")), line(false, QStringLiteral("Hello"), {}, CatLook::happy)});
    AskBarView &bar = show();
    const QList<CatFace *> first = bar.history()->widget()->findChildren<CatFace *>();
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0]->entrance(), 1.0);
    EXPECT_EQ(opacity(first[0]->parentWidget()), 1.0);
    EXPECT_EQ(bar.statusDotColor(), PaletteColors::color(Color::accent));

    flows.service.held << QStringLiteral("assistant");
    bar.send(QStringLiteral("Purr?"));
    settle();
    // The user's line and the dots fade in; the cat's face grows in with them.
    QWidget *mine = bar.bubbles().last()->parentWidget();
    EXPECT_EQ(opacity(mine), 0.0);
    ASSERT_NE(bar.typingRow(), nullptr);
    QWidget *typing = bar.typingRow();
    EXPECT_EQ(opacity(typing), 0.0);
    CatFace *thinking = typing->findChild<CatFace *>();
    ASSERT_NE(thinking, nullptr);
    EXPECT_EQ(thinking->look(), CatLook::curious);
    EXPECT_EQ(thinking->entrance(), 0.0);
    // "Listening." gives way to "Thinking…" over 0.18 s, the dot dimming with it.
    EXPECT_EQ(bar.statusText()->text(), QStringLiteral("Thinking…"));
    EXPECT_EQ(bar.statusText()->crossFadeProgress(), 0.0);
    clock.advance(std::chrono::milliseconds(96));
    EXPECT_GT(bar.statusText()->crossFadeProgress(), 0.5);
    EXPECT_LT(bar.statusText()->crossFadeProgress(), 1.0);
    EXPECT_GT(opacity(mine), 0.0);
    EXPECT_NE(bar.statusDotColor(), PaletteColors::color(Color::accent));
    clock.advance(std::chrono::milliseconds(1000));
    settle();
    EXPECT_EQ(bar.statusText()->crossFadeProgress(), 1.0);
    QColor dimmed = PaletteColors::color(Color::muted);
    dimmed.setAlphaF(dimmed.alphaF() * 0.5f);
    EXPECT_NEAR(bar.statusDotColor().alphaF(), dimmed.alphaF(), 0.01);
    EXPECT_NEAR(bar.statusDotColor().redF(), dimmed.redF(), 0.01);
    EXPECT_EQ(thinking->entrance(), 1.0);
    EXPECT_EQ(mine->graphicsEffect(), nullptr) << "once in, a row is drawn plainly";
    EXPECT_EQ(bar.typingRow(), typing) << "the dots stay while the cat thinks";

    flows.service.release("assistant", Reply::of(reply(QStringLiteral("Purr."))));
    settle();
    CatFace *answer = bar.bubbles().last()->parentWidget()->findChild<CatFace *>();
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->entrance(), 0.0);
    EXPECT_EQ(first[0]->entrance(), 1.0) << "a row already shown keeps its face";
    clock.advance(std::chrono::milliseconds(1000));
    EXPECT_EQ(answer->entrance(), 1.0);
    view.reset();
    Clock::setShared(nullptr);
}

TEST_F(AskBarTest, OnlyTheLastReplyShowsItsChipsAndNotWhileAnswering)
{
    flows.service.queued[QStringLiteral("assistant")].push_back(
        Reply::of(reply(QStringLiteral("Two ideas."), {"Draft it", "Plan it"})));
    AskBarView &bar = show();
    bar.send(QStringLiteral("ideas"));
    settle();
    ASSERT_NE(bar.actionRow(), nullptr);
    EXPECT_EQ(titles(bar.actionChips()), (QStringList{"Draft it", "Plan it"}));
    ASSERT_NE(bar.openInZephylButton(), nullptr);
    EXPECT_EQ(bar.openInZephylButton()->text(), QStringLiteral("Open in Zephyl"));
    // The row sits under the cat's bubble, after the 30-point face.
    EXPECT_EQ(bar.actionChips()[0]->mapTo(bar.history()->widget(), QPoint()).x(), 38);

    // "Open in Zephyl" opens the workspace on the assistant.
    model().setSurface(Surface::plan);
    flows.h.events.clear();
    click(bar.openInZephylButton());
    EXPECT_EQ(model().surface(), Surface::assistant);
    ASSERT_EQ(flows.h.events.size(), 1);
    EXPECT_EQ(flows.h.events[0].kind, AppEvent::Kind::wantsWorkspace);
    EXPECT_EQ(flows.h.events[0].surface, Surface::assistant);

    // The next question: the row goes, the typing dots come.
    flows.service.held << QStringLiteral("assistant");
    bar.send(QStringLiteral("more"));
    settle();
    EXPECT_EQ(bar.actionRow(), nullptr);
    EXPECT_TRUE(bar.actionChips().isEmpty());
    ASSERT_NE(bar.typingRow(), nullptr);
    flows.service.release("assistant", Reply::of(reply(QStringLiteral("That's all."))));
    settle();
    // The earlier reply's chips never come back.
    EXPECT_EQ(bar.actionRow(), nullptr);
    EXPECT_EQ(bar.typingRow(), nullptr);
}

TEST_F(AskBarTest, AReplysChipRunsItsAction)
{
    AskBarView &bar = show();
    // Answered here: a focus round, with a chip that ends it.
    bar.send(QStringLiteral("Let's focus for 25 minutes"));
    settle();
    EXPECT_TRUE(model().focus().isRunning());
    QStringList labels = titles(bar.actionChips());
    ASSERT_TRUE(labels.contains(QStringLiteral("End session"))) << labels.join(u',').toStdString();
    click(bar.actionChips().value(int(labels.indexOf(QStringLiteral("End session")))));
    EXPECT_FALSE(model().focus().isRunning());
}

TEST_F(AskBarTest, ALongConversationScrollsAtItsLimitToTheNewestLine)
{
    QList<CatChatLine> lines;
    for (int i = 0; i < 30; ++i)
        lines << line(i % 2 == 1, QStringLiteral("Line number %1").arg(i));
    model().setCatChat(lines);
    AskBarView &bar = show();
    EXPECT_GT(bar.historyHeight(), 380);
    EXPECT_EQ(bar.history()->height(), 380);
    EXPECT_EQ(bar.history()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    QScrollBar *scroll = bar.history()->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    // The newest line sits at the bottom of the list (below it only the list's padding).
    QWidget *viewport = bar.history()->viewport();
    ChatBubble *newest = bar.bubbles().last();
    EXPECT_EQ(newest->text(), QStringLiteral("Line number 29"));
    EXPECT_EQ(newest->mapTo(viewport, QPoint(0, newest->height())).y(), viewport->height());
    EXPECT_EQ(scroll->value(), scroll->maximum() - 2);

    // Scrolled up to read, the user keeps the place when more lines arrive;
    // back down at the end, the list follows the newest line again.
    scroll->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int reading = scroll->value();
    ASSERT_LT(reading, scroll->maximum() - 100);
    lines << line(false, QStringLiteral("Line number 30")) << line(true, QStringLiteral("Line number 31"));
    model().setCatChat(lines);
    settle();
    EXPECT_EQ(scroll->value(), reading);
    scroll->triggerAction(QAbstractSlider::SliderToMaximum);
    lines << line(false, QStringLiteral("Line number 32"));
    model().setCatChat(lines);
    settle();
    newest = bar.bubbles().last();
    ASSERT_EQ(newest->text(), QStringLiteral("Line number 32"));
    EXPECT_EQ(newest->mapTo(viewport, QPoint(0, newest->height())).y(), viewport->height());
    // The user's own question brings it back to the end from anywhere.
    scroll->triggerAction(QAbstractSlider::SliderPageStepSub);
    bar.send(QStringLiteral("Let's focus for 25 minutes"));
    settle();
    const QWidget *answer = bar.actionRow() ? bar.actionRow() : bar.bubbles().last();
    EXPECT_EQ(answer->mapTo(viewport, QPoint(0, answer->height())).y(), viewport->height());
    model().stopFocus();

    // With chips under the last reply, the chips are what is scrolled to.
    lines << line(false, QStringLiteral("Shall we?"),
                  {AskAction::make(QStringLiteral("s"), QStringLiteral("Stop"), AskAction::Kind::stopFocus)});
    model().setCatChat(lines);
    settle();
    ASSERT_NE(bar.actionRow(), nullptr);
    EXPECT_EQ(bar.actionRow()->mapTo(viewport, QPoint(0, bar.actionRow()->height())).y(), viewport->height());

    // One short line: at least 40 high, no scrolling.
    model().setCatChat({line(true, QStringLiteral("Hi"))});
    settle();
    EXPECT_GE(bar.history()->height(), 40);
    EXPECT_LE(bar.history()->height(), 380);
    EXPECT_EQ(bar.history()->height(), std::max(40, bar.historyHeight()));
    EXPECT_EQ(bar.history()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(AskBarTest, TheCardReportsItsSizeAlways680WideGrowingWithTheConversation)
{
    AskBarView &bar = show();
    ASSERT_FALSE(sizes.isEmpty());
    EXPECT_EQ(sizes.last(), QSizeF(bar.idealSize()));
    const double empty = sizes.last().height();
    sizes.clear();
    model().setCatChat({line(true, QStringLiteral("One"))});
    settle();
    model().setCatChat({line(true, QStringLiteral("One")), line(false, QStringLiteral("Two")),
                        line(true, QStringLiteral("Three"))});
    settle();
    ASSERT_GE(sizes.size(), 2);
    for (const QSizeF &s : sizes)
        EXPECT_EQ(s.width(), 680);
    EXPECT_LT(sizes.first().height(), sizes.last().height());
    // Nothing new to say, nothing reported.
    sizes.clear();
    bar.update();
    settle();
    EXPECT_TRUE(sizes.isEmpty());
    Q_UNUSED(empty);
}

TEST_F(AskBarTest, EscapeAndTheCloseButtonAskToCloseAndTheConversationStays)
{
    model().setCatChat({line(true, QStringLiteral("Stay"))});
    AskBarView &bar = show();
    bar.field()->setFocus();
    QTest::keyClick(bar.field(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(closes, 1);
    click(bar.closeButton());
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(model().catChat().size(), 1);
}

TEST_F(AskBarTest, LinesArePlainTextExactlyAsStored)
{
    const QString markup = QStringLiteral("<b>bold</b> &amp; <a href=\"x\">link</a>");
    model().setCatChat({line(true, markup), line(false, markup)});
    AskBarView &bar = show();
    for (ChatBubble *bubble : bar.bubbles()) {
        EXPECT_EQ(bubble->textView()->toPlainText(), markup);
        // No bold, no link: nothing of the markup was taken as such.
        for (QTextBlock block = bubble->textView()->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                EXPECT_FALSE(it.fragment().charFormat().isAnchor());
                EXPECT_LE(it.fragment().charFormat().fontWeight(), int(QFont::Normal));
            }
        }
        EXPECT_TRUE(bubble->textView()->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
}

TEST_F(AskBarTest, LongLinesLeaveRoomOnTheOtherSpeakersSide)
{
    const QString longLine = QStringLiteral("A line long enough to wrap across the whole card. ").repeated(6);
    model().setCatChat({line(true, longLine), line(false, longLine)});
    AskBarView &bar = show();
    const QList<ChatBubble *> bubbles = bar.bubbles();
    ASSERT_EQ(bubbles.size(), 2);
    // In from the card's 18-point inset: the user's bubble at least 90 points
    // from the leading edge, the cat's (after its face and 8 points) keeping at
    // least 60 free at the trailing side.
    const QRect mine(bubbles[0]->mapTo(&bar, QPoint()), bubbles[0]->size());
    const QRect cats(bubbles[1]->mapTo(&bar, QPoint()), bubbles[1]->size());
    EXPECT_GE(mine.left(), 18 + 90);
    EXPECT_EQ(mine.right() + 1, 680 - 18);
    EXPECT_EQ(cats.left(), 18 + 30 + 8);
    EXPECT_LE(cats.right() + 1, 680 - 18 - 60);
    // Both wrapped rather than cut: taller than one line.
    EXPECT_GT(bubbles[0]->height(), 2 * 20);
    EXPECT_GT(bubbles[1]->height(), 2 * 20);
    // The greeting of an empty conversation keeps the same room.
    model().setCatChat({});
    settle();
    const QList<ChatBubble *> greeting = bar.bubbles();
    ASSERT_EQ(greeting.size(), 1);
    EXPECT_LE(greeting[0]->mapTo(&bar, QPoint(greeting[0]->width(), 0)).x(), 680 - 18 - 60);
}

TEST_F(AskBarTest, TheNameIsTheOneGivenElseTheLooksOwn)
{
    AskBarView &bar = show();
    model().setCompanionName(QStringLiteral("  Biscuit "));
    EXPECT_EQ(bar.nameText()->text(), QStringLiteral("  Biscuit "));
    model().setCompanionName(QString());
    EXPECT_EQ(bar.nameText()->text(), QStringLiteral("Drawn"));
}

TEST_F(AskBarTest, InArabicTheCardIsMirrored)
{
    apptest::LanguageGuard restore;
    model().setCatChat({line(true, QStringLiteral("مرحبا")), line(false, QStringLiteral("أهلاً"))});
    AskBarView &bar = show();
    EXPECT_EQ(bar.layoutDirection(), Qt::LeftToRight);
    // Chosen while the card is there: it turns round at once.
    model().setLanguage(AppLanguage::ar);
    settle();
    EXPECT_EQ(bar.layoutDirection(), Qt::RightToLeft);
    const QList<ChatBubble *> bubbles = bar.bubbles();
    ASSERT_EQ(bubbles.size(), 2);
    const int mine = bubbles[0]->mapTo(&bar, QPoint()).x();
    const int cats = bubbles[1]->mapTo(&bar, QPoint()).x();
    // The user's bubble at the left, the cat's at the right.
    EXPECT_LT(mine + bubbles[0]->width(), bar.width() / 2);
    EXPECT_GT(cats + bubbles[1]->width(), bar.width() / 2);
    EXPECT_GT(cats, mine);
    EXPECT_EQ(bar.field()->placeholderText(), L10n::t("Ask anything…"));
    EXPECT_NE(bar.field()->placeholderText(), QStringLiteral("Ask anything…"));
    EXPECT_EQ(bar.statusText()->text(), L10n::t("Listening."));
    EXPECT_NE(bar.statusText()->text(), QStringLiteral("Listening."));

    // A reply's chips stand under its bubble, in from the right by the cat's
    // face as the bubble is, not against the list's edge.
    const auto rightInset = [&bar](const QWidget *w) { return bar.width() - w->mapTo(&bar, QPoint(w->width(), 0)).x(); };
    model().setCatChat({line(true, QStringLiteral("مرحبا")),
                        line(false, QStringLiteral("أهلاً"),
                             {AskAction::make(QStringLiteral("s"), QStringLiteral("قف"), AskAction::Kind::stopFocus)})});
    settle();
    ASSERT_EQ(bar.actionChips().size(), 1);
    EXPECT_EQ(rightInset(bar.actionChips()[0]), 18 + 38);
    EXPECT_EQ(rightInset(bar.actionChips()[0]), rightInset(bar.bubbles().last()));

    // A new conversation greets in Arabic too, its chips at the right, in
    // from the edge as in English from the left.
    click(bar.newConversationButton());
    ASSERT_EQ(bar.suggestionChips().size(), 4);
    EXPECT_NE(bar.suggestionChips()[0]->text(), QStringLiteral("How are you?"));
    EXPECT_GT(bar.suggestionChips()[0]->mapTo(&bar, QPoint()).x(), bar.width() / 2);
    EXPECT_EQ(rightInset(bar.suggestionChips()[0]), 18 + 38);
    model().setLanguage(AppLanguage::en);
}

TEST(TypingDots, EachDotPulsesOnTheTimelineAfterTheOneBefore)
{
    // 0.3 + 0.7 * (0.5 + 0.5 * sin(5t - 1.1i))
    EXPECT_DOUBLE_EQ(TypingDots::opacity(0, 0), 0.65);
    EXPECT_NEAR(TypingDots::opacity(0, M_PI / 10), 1.0, 1e-12);
    EXPECT_NEAR(TypingDots::opacity(1, (M_PI / 2 + 1.1) / 5), 1.0, 1e-12);
    EXPECT_NEAR(TypingDots::opacity(2, (-M_PI / 2 + 2.2) / 5), 0.3, 1e-12);
}

} // namespace
