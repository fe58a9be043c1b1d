// The assistant screen: the greeting, the composer's send with its two mended
// faults, the thread operations and the message rows.

#include "ScreensTestSupport.h"

#include "design/ButtonStyles.h"
#include "design/GrowingTextField.h"
#include "workspace/AssistantView.h"

#include <QClipboard>
#include <QMimeData>

using namespace flowtest;
using namespace screentest;

namespace {

ZephylWire::AssistantThreadSummary thread(const QString &id, const QString &title, const QString &preview)
{
    ZephylWire::AssistantThreadSummary t;
    t.id = id;
    t.title = title;
    t.preview = preview;
    return t;
}

ZephylWire::AssistantThreadStore store(QList<ZephylWire::AssistantThreadSummary> threads, std::optional<QString> active)
{
    ZephylWire::AssistantThreadStore s;
    s.threads = std::move(threads);
    s.activeThreadId = std::move(active);
    return s;
}

ChatMessage message(const QString &id, ChatMessage::Author author, const QString &text,
                    QList<ZephylWire::AssistantReply::Action> actions = {})
{
    ChatMessage m;
    m.id = id;
    m.author = author;
    m.text = text;
    m.actions = std::move(actions);
    return m;
}

class AssistantTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model().setUser(user("kitty@example.com"));
        model().setSession(SessionState::signedIn);
        model().restoreUnsentText("kitty@example.com");
    }
    AppModel &model() { return flows.model(); }
    AssistantView *show()
    {
        view = host.show(new AssistantView(model()));
        return view;
    }
    void typeDraft(const QString &text)
    {
        view->field()->setFocus();
        view->field()->setText(text);
        settle();
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    AssistantView *view = nullptr;
};

} // namespace

TEST_F(AssistantTest, ShowingTheScreenLoadsTheThreadsAndListsThem)
{
    flows.service.results["assistantThreadStore"] =
        store({thread("t1", "", ""), thread("t2", "Captions", "Three ideas for Friday")}, QString("t2"));
    show();
    EXPECT_EQ(flows.service.count("assistantThreadStore"), 1);
    const auto rows = view->threadRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(texts(rows[0]), (QStringList{"Conversation", "Empty"}));
    EXPECT_EQ(texts(rows[1]), (QStringList{"Captions", "Three ideas for Friday"}));

    // The open thread's row asks nothing; another asks the service to open it.
    click(rows[1]);
    EXPECT_TRUE(flows.service.selectedThreads.isEmpty());
    click(view->threadRows()[0]);
    EXPECT_EQ(flows.service.selectedThreads, QStringList{"t1"});
}

TEST_F(AssistantTest, TheGreetingNamesTheFirstWordOfTheName)
{
    struct Case {
        std::optional<QString> name;
        QString title;
    };
    const Case cases[] = {{std::nullopt, "What are we preparing?"},
                          {"", "What are we preparing?"},
                          {"  ", "What are we preparing?"},
                          {"Anna Maria Kowalska", "Hi, Anna. What are we preparing?"},
                          {"Kitty", "Hi, Kitty. What are we preparing?"}};
    for (const Case &c : cases) {
        ZephylWire::User u = user("kitty@example.com");
        u.displayName = c.name;
        model().setUser(u);
        EXPECT_EQ(AssistantView::greetingTitle(model()), c.title);
    }
    model().setUser(std::nullopt);
    EXPECT_EQ(AssistantView::greetingTitle(model()), "What are we preparing?");
}

TEST_F(AssistantTest, ASuggestionReplacesTheDraftAndSendsNothing)
{
    show();
    ASSERT_NE(view->greeting(), nullptr);
    typeDraft("something else");
    click(buttonNamed(view, "Write a Reel caption in my voice"));
    EXPECT_EQ(model().assistantDraft(), "Write a Reel caption in my voice");
    EXPECT_EQ(view->field()->text(), "Write a Reel caption in my voice");
    EXPECT_TRUE(view->field()->hasFocus());
    EXPECT_EQ(flows.service.count("assistant"), 0);
}

TEST_F(AssistantTest, SendingEmptiesTheFieldAndSendsTheTextAsTyped)
{
    show();
    typeDraft("   \n  ");
    EXPECT_FALSE(view->sendButton()->isEnabled());
    key(view->field(), Qt::Key_Return);
    EXPECT_EQ(flows.service.count("assistant"), 0);

    flows.service.held.insert("assistant");
    typeDraft("  Plan my week \n");
    EXPECT_TRUE(view->sendButton()->isEnabled());
    key(view->field(), Qt::Key_Return);
    EXPECT_EQ(model().assistantDraft(), "");
    EXPECT_TRUE(view->field()->text().isEmpty());
    ASSERT_TRUE(model().assistantBusy());
    ASSERT_NE(view->thinkingRow(), nullptr);
    EXPECT_EQ(view->greeting(), nullptr);
    EXPECT_FALSE(view->sendButton()->isEnabled());
    ASSERT_EQ(view->messageRows().size(), 1);

    ZephylWire::AssistantReply reply;
    reply.message = "Here is a plan.";
    flows.service.release("assistant", Reply::of(reply));
    settle();
    EXPECT_FALSE(model().assistantBusy());
    EXPECT_EQ(view->thinkingRow(), nullptr);
    ASSERT_EQ(view->messageRows().size(), 2);
    EXPECT_EQ(view->messageRows()[1]->message().text, "Here is a plan.");
}

TEST_F(AssistantTest, ReturnWhileAReplyIsAwaitedLeavesTheDraftAlone)
{
    show();
    flows.service.held.insert("assistant");
    typeDraft("first");
    key(view->field(), Qt::Key_Return);
    ASSERT_TRUE(model().assistantBusy());

    typeDraft("second, typed while waiting");
    key(view->field(), Qt::Key_Return);
    EXPECT_EQ(model().assistantDraft(), "second, typed while waiting");
    EXPECT_EQ(view->field()->text(), "second, typed while waiting");
    EXPECT_EQ(flows.service.count("assistant"), 1);
    view->send();
    EXPECT_EQ(model().assistantDraft(), "second, typed while waiting");
    flows.service.release("assistant", Reply::of(ZephylWire::AssistantReply{}));
    settle();
}

TEST_F(AssistantTest, AFailedSendPutsTheWordsBackIntoAnEmptyField)
{
    show();
    flows.service.held.insert("assistant");
    typeDraft("Plan my week");
    click(view->sendButton());
    ASSERT_TRUE(model().assistantBusy());
    flows.service.release("assistant", Reply::error(NetworkError(NetworkError::Code::timedOut)));
    settle();
    EXPECT_FALSE(model().assistantBusy());
    EXPECT_TRUE(model().messages().isEmpty());
    EXPECT_TRUE(model().notice().has_value());
    EXPECT_EQ(model().assistantDraft(), "Plan my week");
    EXPECT_EQ(view->field()->text(), "Plan my week");

    // Words typed while it failed are not overwritten.
    typeDraft("Plan my week");
    click(view->sendButton());
    typeDraft("actually, the grid");
    flows.service.release("assistant", Reply::error(NetworkError(NetworkError::Code::timedOut)));
    settle();
    EXPECT_EQ(model().assistantDraft(), "actually, the grid");

    // Nor do they come back after the account signed out meanwhile.
    model().setAssistantDraft(QString());
    typeDraft("private words");
    click(view->sendButton());
    model().setSession(SessionState::signedOut);
    model().forgetUnsentText();
    flows.service.release("assistant", Reply::error(NetworkError(NetworkError::Code::timedOut)));
    settle();
    EXPECT_EQ(model().assistantDraft(), "");
}

TEST_F(AssistantTest, ThreadOperationsApplyTheServicesStoreOrShowTheFailure)
{
    model().apply(store({thread("t1", "Old", "")}, QString("t1")));
    show();
    flows.service.results["createAssistantThread"] = store({thread("t2", "", ""), thread("t1", "Old", "")}, QString("t2"));
    click(static_cast<QAbstractButton *>(view->newThreadButton()));
    EXPECT_EQ(model().activeThreadID(), QString("t2"));
    EXPECT_EQ(view->threadRows().size(), 2);

    flows.service.results["deleteAssistantThread"] = store({thread("t1", "Old", "")}, QString("t1"));
    view->deleteThread("t2");
    settle();
    EXPECT_EQ(model().threads().size(), 1);
    EXPECT_EQ(model().activeThreadID(), QString("t1"));

    flows.service.failures["deleteAssistantThread"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    view->deleteThread("t1");
    settle();
    EXPECT_EQ(model().threads().size(), 1);
    EXPECT_TRUE(model().notice().has_value());
}

TEST_F(AssistantTest, MessageRowsOfferActionsAndCopyOnlyUnderReplies)
{
    ZephylWire::AssistantReply::Action open;
    open.id = "open_planner";
    open.label = "<i>Open</i> the plan";
    show();
    // After the screen's own load of the threads.
    model().setMessages({message("u", ChatMessage::Author::user, "mine"),
                         message("a", ChatMessage::Author::assistant, "reply with <b>tags</b>", {open}),
                         message("b", ChatMessage::Author::assistant, "no actions")});
    settle();
    const auto rows = view->messageRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0]->actionButtons().isEmpty());
    EXPECT_EQ(rows[0]->copyButton(), nullptr);
    ASSERT_EQ(rows[1]->actionButtons().size(), 1);
    EXPECT_EQ(rows[1]->actionButtons()[0]->text(), "<i>Open</i> the plan");
    // Plain text: the tags are the words shown.
    EXPECT_EQ(rows[1]->textView()->toPlainText(), "reply with <b>tags</b>");
    EXPECT_TRUE(rows[2]->actionButtons().isEmpty());
    EXPECT_NE(rows[2]->copyButton(), nullptr);
    // The user's bubble stands at the trailing side, a reply at the leading side.
    EXPECT_GT(rows[0]->textView()->mapTo(rows[0], QPoint()).x(), rows[0]->width() / 2);
    EXPECT_LT(rows[1]->textView()->mapTo(rows[1], QPoint()).x(), rows[1]->width() / 2);

    auto *before = new QMimeData;
    before->setHtml("<p>old</p>");
    QGuiApplication::clipboard()->setMimeData(before);
    click(rows[1]->copyButton());
    const QMimeData *now = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->text(), "reply with <b>tags</b>");
    EXPECT_FALSE(now->hasHtml());

    click(view->messageRows()[1]->actionButtons()[0]);
    EXPECT_EQ(model().surface(), Surface::plan);
}

// Built anew as a reply comes in or the list is fetched again, the
// conversation and the thread list keep the keyboard on the very control it
// was on, not on the first of the same name higher up: the third reply's
// "Copy" or action, the third untitled conversation.
TEST_F(AssistantTest, TheKeyboardStaysOnItsOwnReplyAndThreadAsTheyAreBuiltAnew)
{
    ZephylWire::AssistantReply::Action plan;
    plan.id = "plan";
    plan.label = "Plan it";
    flows.service.results["assistantThreadStore"] =
        store({thread("t1", "", ""), thread("t2", "", ""), thread("t3", "", "")}, QString("t1"));
    show();
    ASSERT_EQ(view->threadRows().size(), 3);
    QList<ChatMessage> messages;
    for (const char *id : {"a1", "a2", "a3"})
        messages << message(id, ChatMessage::Author::assistant, "reply", {plan});
    model().setMessages(messages);
    settle();
    const auto onRow = [&](int row, auto part) {
        const auto rows = view->messageRows();
        return rows.size() > row && QApplication::focusWidget() == part(rows[row]);
    };
    const auto copy = [](MessageRow *r) -> QWidget * { return r->copyButton(); };
    const auto chip = [](MessageRow *r) -> QWidget * { return r->actionButtons().value(0); };
    for (const auto &part : {std::function<QWidget *(MessageRow *)>(copy), std::function<QWidget *(MessageRow *)>(chip)}) {
        ASSERT_EQ(view->messageRows().size(), messages.size());
        part(view->messageRows()[2])->setFocus(Qt::TabFocusReason);
        messages << message(QString("u%1").arg(messages.size()), ChatMessage::Author::user, "more");
        model().setMessages(messages);
        settle();
        EXPECT_TRUE(onRow(2, part)) << "on " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    }

    view->threadRows().at(2)->setFocus(Qt::TabFocusReason);
    model().apply(store({thread("t1", "", "a"), thread("t2", "", "b"), thread("t3", "", "c")}, QString("t1")));
    settle();
    ASSERT_EQ(view->threadRows().size(), 3);
    EXPECT_EQ(QApplication::focusWidget(), view->threadRows()[2]);
}

TEST_F(AssistantTest, ALongLinkWrapsInsideItsBubble)
{
    show();
    const QString link = "https://example.com/" + QString(1500, QChar('x'));
    model().setMessages({message("a", ChatMessage::Author::assistant, link), message("u", ChatMessage::Author::user, link)});
    settle();
    const auto rows = view->messageRows();
    ASSERT_EQ(rows.size(), 2);
    const QWidget *column = view->conversationArea()->viewport();
    for (MessageRow *row : rows) {
        const QRect text(row->textView()->mapTo(column, QPoint()), row->textView()->size());
        EXPECT_LE(text.right(), column->width());
        EXPECT_GE(text.left(), 0);
        // Every line of it shows.
        EXPECT_GE(row->textView()->height(), row->textView()->heightForWidth(row->textView()->width()));
        EXPECT_GT(row->textView()->height(), 100);
    }
}
