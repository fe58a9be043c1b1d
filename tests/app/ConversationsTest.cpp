// The assistant screen's conversation and the ask panel's: what is sent, what
// stays on screen, where replies are stored, and the commands answered locally.

#include "FlowTestSupport.h"

#include "app/UnsentTextStore.h"
#include "base/RecordStore.h"

#include "base/DefaultsStore.h"

#include <gtest/gtest.h>

using namespace flowtest;
using Action = ZephylWire::AssistantReply::Action;
using Store = ZephylWire::AssistantThreadStore;
using Kind = AppEvent::Kind;

namespace {

ZephylWire::AssistantReply reply(const QString &text, QList<Action> actions = {})
{
    return ZephylWire::AssistantReply{text, std::move(actions)};
}

Store store(const QString &active, QList<ZephylWire::AssistantStoredMessage> messages, QStringList listed = {})
{
    Store s;
    s.activeThreadId = active;
    ZephylWire::AssistantThread t;
    t.id = active;
    t.messages = std::move(messages);
    s.activeThread = t;
    listed.prepend(active);
    for (const QString &id : listed)
        s.threads << ZephylWire::AssistantThreadSummary{id, id, 1, 1, 0, {}};
    return s;
}

ZephylWire::AssistantStoredMessage stored(const QString &id, const QString &role, const QString &text)
{
    return {id, role, text, 1700000000000, std::nullopt, std::nullopt};
}

QStringList texts(const QList<ChatMessage> &messages)
{
    QStringList out;
    for (const auto &m : messages)
        out << m.text;
    return out;
}

QStringList labels(const QList<AskAction> &actions)
{
    QStringList out;
    for (const auto &a : actions)
        out << a.label;
    return out;
}

Action action(const QString &id)
{
    Action a;
    a.id = id;
    a.label = id;
    return a;
}

DistractingWindow window(const QString &app, const QString &title)
{
    return DistractingWindow{app + QStringLiteral("-1"), app, title, std::nullopt, 0};
}

} // namespace

TEST(Assistant, AppliedStoresShowTheActiveConversation)
{
    Flows f;
    AppModel &m = f.model();
    m.apply(store(QStringLiteral("t1"), {stored("a", "user", "hi"), stored("b", "assistant", "hello"),
                                         stored("c", "system", "odd role"), stored("d", "User", "capital role")}));
    ASSERT_EQ(m.messages().size(), 4);
    EXPECT_EQ(m.messages()[0].author, ChatMessage::Author::user);
    EXPECT_EQ(m.messages()[1].author, ChatMessage::Author::assistant);
    EXPECT_EQ(m.messages()[2].author, ChatMessage::Author::assistant) << "an unknown role is the assistant's";
    EXPECT_EQ(m.messages()[3].author, ChatMessage::Author::assistant);
    EXPECT_EQ(m.activeThreadID(), QStringLiteral("t1"));
    Store none;
    m.apply(none);
    EXPECT_TRUE(m.messages().isEmpty());
    EXPECT_EQ(m.activeThreadID(), std::nullopt);
}

TEST(Assistant, SendingAMessage)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);

    EXPECT_EQ(finish(m.send(QStringLiteral(" \n\t "))), std::nullopt);
    EXPECT_TRUE(f.service.calls.isEmpty());

    // The first message opens a conversation: no thread id, and the service's becomes the open one.
    f.service.results["assistant"] = reply(QStringLiteral("Post at six."), {action(QStringLiteral("open_planner"))});
    f.service.results["saveAssistantThread"] = store(QStringLiteral("new-thread"), {});
    const auto answer = finish(m.send(QStringLiteral("  when should I post?\n")));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, QStringLiteral("Post at six."));
    EXPECT_EQ(answer->actions.size(), 1);
    EXPECT_EQ(texts(m.messages()), (QStringList{"when should I post?", "Post at six."}));
    EXPECT_EQ(f.service.questions, QStringList{"when should I post?"});
    EXPECT_TRUE(f.service.histories.first().isEmpty());
    EXPECT_EQ(f.service.personas.first(), ServiceClient::Persona::standard()) << "no cat persona on this screen";
    EXPECT_EQ(f.service.savedThreadIDs, QList<std::optional<QString>>{std::nullopt});
    EXPECT_EQ(texts(f.service.savedThreads.first()), texts(m.messages()));
    EXPECT_EQ(m.activeThreadID(), QStringLiteral("new-thread"));
    EXPECT_FALSE(m.assistantBusy());

    // A failed request withdraws the optimistic message and shows the error.
    const QList<ChatMessage> before = m.messages();
    f.service.failures["assistant"] =
        std::make_exception_ptr(APIError::rejected(QStringLiteral("assistant_not_configured")));
    EXPECT_EQ(finish(m.send(QStringLiteral("again?"))), std::nullopt);
    EXPECT_EQ(m.messages(), before);
    EXPECT_EQ(m.notice()->text, QStringLiteral("The assistant is not configured on the server right now."));
    EXPECT_EQ(f.service.count("saveAssistantThread"), 1);

    // A failed save is silent; the exchange stays on screen.
    f.service.failures.clear();
    f.service.failures["saveAssistantThread"] = std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut));
    m.setNotice(std::nullopt);
    EXPECT_TRUE(finish(m.send(QStringLiteral("third"))));
    EXPECT_EQ(m.messages().size(), 4);
    EXPECT_EQ(m.notice(), std::nullopt);
    EXPECT_EQ(f.service.histories.last().size(), 2) << "the history never holds the new message";
}

TEST(Assistant, AReplyStaysWithTheConversationItWasAskedIn)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    m.apply(store(QStringLiteral("t1"), {stored("a", "user", "earlier in t1")}, {QStringLiteral("t2")}));
    f.service.held << QStringLiteral("assistant");
    f.service.results["selectAssistantThread"] = store(QStringLiteral("t2"), {stored("x", "user", "in t2")});
    f.service.results["saveAssistantThread"] = store(QStringLiteral("t1"), {}, {QStringLiteral("t2")});

    auto sending = m.send(QStringLiteral("question in t1"));
    EXPECT_EQ(finish(m.send(QStringLiteral("second"))), std::nullopt) << "one message at a time";
    finish(m.selectThread(QStringLiteral("t2")));
    EXPECT_TRUE(f.service.selectedThreads.isEmpty()) << "no switch while the reply is awaited";
    // A reload of the thread store meanwhile keeps the open conversation too.
    m.apply(store(QStringLiteral("t2"), {stored("x", "user", "in t2")}, {QStringLiteral("t1"), QStringLiteral("t3")}));
    EXPECT_EQ(m.activeThreadID(), QStringLiteral("t1"));
    EXPECT_EQ(m.threads().size(), 3);

    f.service.release("assistant", Reply::of(reply(QStringLiteral("answer for t1"))));
    ASSERT_TRUE(finish(std::move(sending)));
    EXPECT_EQ(f.service.savedThreadIDs, QList<std::optional<QString>>{QStringLiteral("t1")});
    EXPECT_EQ(texts(f.service.savedThreads.first()), (QStringList{"earlier in t1", "question in t1", "answer for t1"}));
    EXPECT_EQ(texts(m.messages()), texts(f.service.savedThreads.first()));

    // Once the reply is stored the user may switch.
    finish(m.selectThread(QStringLiteral("t2")));
    EXPECT_EQ(f.service.selectedThreads, QStringList{"t2"});
    EXPECT_EQ(texts(m.messages()), QStringList{"in t2"});
    finish(m.selectThread(QStringLiteral("t2")));
    EXPECT_EQ(f.service.selectedThreads.size(), 1) << "the open conversation is not asked for again";
}

TEST(Assistant, ActionsUnderReplies)
{
    struct Case {
        const char *name;
        Action action;
        bool web;
        QList<Kind> events;
        Surface surface;
        std::optional<ComposerPrefill> prefill;
        AppTheme theme;
    };
    auto with = [](const char *id, std::function<void(Action &)> fill) {
        Action a = action(QString::fromLatin1(id));
        fill(a);
        return a;
    };
    const auto none = [](Action &) {};
    const Case cases[] = {
        {"planner", action("open_planner"), false, {Kind::wantsWorkspace}, Surface::plan, {}, AppTheme::system},
        {"studio", action("open_studio"), false, {Kind::wantsWorkspace}, Surface::grid, {}, AppTheme::system},
        {"grid", action("preview_grid"), true, {Kind::wantsWorkspace}, Surface::grid, {}, AppTheme::system},
        {"insights", action("open_insights"), false, {Kind::wantsWorkspace}, Surface::summary, {}, AppTheme::system},
        {"language", action("set_language"), false, {Kind::wantsWorkspace}, Surface::profile, {}, AppTheme::system},
        {"unknown", action("OPEN_PLANNER"), false, {}, Surface::assistant, {}, AppTheme::system},
        {"theme in capitals", with("set_theme", [](Action &a) { a.theme = QStringLiteral("DaRk"); }), false,
         {Kind::themeChanged}, Surface::assistant, {}, AppTheme::dark},
        {"theme light", with("set_theme", [](Action &a) { a.theme = QStringLiteral("light"); }), false,
         {Kind::themeChanged}, Surface::assistant, {}, AppTheme::light},
        {"theme unknown", with("set_theme", [](Action &a) { a.theme = QStringLiteral("sepia"); }), false,
         {Kind::themeChanged}, Surface::assistant, {}, AppTheme::system},
        {"theme absent", with("set_theme", none), false, {Kind::themeChanged}, Surface::assistant, {}, AppTheme::system},
        {"draft as a post", with("draft_post",
                                 [](Action &a) {
                                     a.format = QStringLiteral("post");
                                     a.caption = QStringLiteral("Morning");
                                 }),
         false, {Kind::wantsWorkspace}, Surface::assistant,
         ComposerPrefill{PublishFormat::feed, QString(), QStringLiteral("Morning"), QString()}, AppTheme::system},
        {"draft as a reel", with("draft_post", [](Action &a) { a.format = QStringLiteral("reel"); }), false,
         {Kind::wantsWorkspace}, Surface::assistant, ComposerPrefill{PublishFormat::reel, {}, {}, {}}, AppTheme::system},
        {"draft without a format", with("draft_post", [](Action &a) { a.title = QStringLiteral("T"); }), false,
         {Kind::wantsWorkspace}, Surface::assistant, ComposerPrefill{std::nullopt, QStringLiteral("T"), {}, {}},
         AppTheme::system},
        {"draft in the web workspace", with("draft_post", [](Action &a) { a.format = QStringLiteral("reel"); }), true,
         {Kind::wantsComposer}, Surface::assistant, {}, AppTheme::system},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f(!c.web);
        AppModel &m = f.model();
        m.performAction(c.action);
        EXPECT_EQ(f.kinds(), c.events);
        EXPECT_EQ(m.surface(), c.surface);
        EXPECT_EQ(m.composerPrefill(), c.prefill);
        EXPECT_EQ(m.composerPresented(), c.prefill.has_value());
        EXPECT_EQ(m.theme(), c.theme);
    }
}

TEST(Ask, AQuestionWhileOneIsAnsweredChangesNothing)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    finish(m.finishSignIn());
    const auto stored = [&] { return CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("kitty@example.com")); };
    f.service.held << QStringLiteral("assistant");
    auto asking = m.ask(QStringLiteral("what is good today?"));
    EXPECT_TRUE(m.askBusy());
    EXPECT_EQ(m.askReply(), std::nullopt);
    const QList<CatChatLine> during = m.catChat();
    finish(m.ask(QStringLiteral("and tomorrow?")));
    finish(m.ask(QStringLiteral("stop focus")));
    EXPECT_EQ(m.catChat(), during);
    EXPECT_EQ(m.askQuestion(), QStringLiteral("what is good today?"));
    EXPECT_FALSE(f.h.store.contains(QString::fromLatin1(CatChatLine::kDefaultsKey)));
    EXPECT_EQ(stored().size(), 1) << "the question is kept before its answer comes";
    EXPECT_EQ(f.service.count("assistant"), 1);

    f.service.release("assistant", Reply::of(reply(QStringLiteral("Did it go out?"))));
    finish(std::move(asking));
    ASSERT_TRUE(m.askReply());
    EXPECT_EQ(m.askReply()->look, CatLook::curious);
    EXPECT_TRUE(m.askReply()->actions.isEmpty());
    EXPECT_EQ(m.catChat().size(), 2);
    EXPECT_EQ(stored().size(), 2);
    EXPECT_EQ(f.service.personas.first(), ServiceClient::Persona::kitty(QString()));
}

TEST(Ask, SignedOutOrStillRestoringTheCatAnswersCommandsAndAsksForASignIn)
{
    for (const SessionState state : {SessionState::signedOut, SessionState::restoring}) {
        Flows f;
        AppModel &m = f.model();
        m.setSession(state);
        finish(m.ask(QStringLiteral("stop focus")));
        EXPECT_EQ(m.askReply()->text, QStringLiteral("Session ended. The timer is gone."));
        finish(m.ask(QStringLiteral("open grid")));
        EXPECT_EQ(m.askReply()->text, QStringLiteral("Opening Grid."));
        EXPECT_EQ(m.surface(), Surface::grid);

        finish(m.ask(QStringLiteral("how are my posts doing")));
        const AskReply answer = *m.askReply();
        EXPECT_EQ(answer.text, QStringLiteral("Sign in to Zephyl first, then I can help with the plan and publishing."));
        EXPECT_EQ(answer.look, CatLook::concerned);
        ASSERT_EQ(labels(answer.actions), QStringList{"Open Zephyl"});
        EXPECT_TRUE(f.service.calls.isEmpty()) << "nothing is sent while nobody is signed in";

        f.h.events.clear();
        m.performAsk(answer.actions.first());
        EXPECT_EQ(m.surface(), Surface::profile);
        EXPECT_EQ(f.kinds(), QList<Kind>{Kind::wantsWorkspace});
        EXPECT_EQ(m.catChat().size(), 6);
    }
}

TEST(Ask, TheAssistantHearsTheConversationBeforeTheQuestionAndAFailureIsOneConcernedLine)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    finish(m.finishSignIn());
    m.setCompanionName(QStringLiteral("Miso"));
    finish(m.ask(QStringLiteral("first question")));
    EXPECT_TRUE(f.service.histories.first().isEmpty());

    for (int i = 0; i < 14; ++i)
        finish(m.ask(QStringLiteral("question %1").arg(i)));
    const QList<ChatMessage> sent = f.service.histories.last();
    EXPECT_EQ(sent.size(), 28) << "the model hands over every earlier line; the client keeps the last 16";
    EXPECT_EQ(sent.first().text, QStringLiteral("first question"));
    EXPECT_EQ(sent.first().author, ChatMessage::Author::user);
    EXPECT_EQ(sent[1].author, ChatMessage::Author::assistant);
    EXPECT_NE(sent.last().text, QStringLiteral("question 13"));
    EXPECT_EQ(f.service.personas.last(), ServiceClient::Persona::kitty(QStringLiteral("Miso")));

    // A service that answered is quoted; only a service out of reach is "couldn't reach".
    // (A session it no longer takes ends: the case below.)
    const struct {
        std::exception_ptr failure;
        const char *said;
    } failures[] = {
        {std::make_exception_ptr(APIError::rejected(QStringLiteral("assistant_not_configured"))),
         "The assistant is not configured on the server right now."},
        {std::make_exception_ptr(APIError::serverRefused(503)),
         "sorvane.app refused the request (HTTP 503) without a reason."},
        {std::make_exception_ptr(ZephylAPI::DecodingError(ZephylAPI::DecodingError::Kind::keyNotFound,
                                                          QStringLiteral("message"), QStringLiteral("missing"))),
         "sorvane.app answered in a shape this build does not understand."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)),
         "I couldn't reach Zephyl just now. Try me again in a moment."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut)),
         "I couldn't reach Zephyl just now. Try me again in a moment."},
    };
    for (const auto &row : failures) {
        f.service.failures["assistant"] = row.failure;
        finish(m.ask(QStringLiteral("still there?")));
        EXPECT_EQ(m.askReply()->text, QString::fromUtf8(row.said));
        EXPECT_EQ(m.askReply()->look, CatLook::concerned);
        EXPECT_EQ(m.session(), SessionState::signedIn) << "the session goes on";
        EXPECT_EQ(m.notice(), std::nullopt);
        EXPECT_EQ(f.service.count("logout"), 0);
    }

    f.service.failures.clear();
    for (int i = 0; i < 30; ++i)
        finish(m.ask(QStringLiteral("more %1").arg(i)));
    EXPECT_EQ(m.catChat().size(), 100);
    const QList<CatChatLine> kept = CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("Kitty@example.com"));
    ASSERT_EQ(kept.size(), 40);
    EXPECT_EQ(kept.last().id, m.catChat().last().id);
}

TEST(Ask, ASessionTheServiceNoLongerTakesEndsAndNothingTypedIsLost)
{
    const QString email = QStringLiteral("kitty@example.com");
    const QString asked = QStringLiteral("how is my week?");
    const QString expired = QStringLiteral("Your session has expired. Sign in again.");
    const auto lines = [](const QList<CatChatLine> &chat) {
        QStringList out;
        for (const auto &line : chat)
            out << line.text;
        return out;
    };
    for (const bool native : {true, false}) {
        SCOPED_TRACE(native ? "native workspace" : "web workspace");
        Flows f(native);
        AppModel &m = f.model();
        const auto signIn = [&] {
            if (native)
                finish(m.finishSignIn());
            else
                m.webAccountChanged(AppModel::WebAccount{email, QStringLiteral("Kitty")});
        };
        f.service.results["currentUser"] = user(email);
        signIn();
        finish(m.ask(QStringLiteral("first question")));
        m.setAskInput(QStringLiteral("half a thought"));
        f.service.failures["assistant"] =
            std::make_exception_ptr(native ? APIError::sessionExpired() : APIError::unauthorized());
        f.service.held << QStringLiteral("logout");
        auto asking = m.ask(asked);
        finish(m.ask(QStringLiteral("and the week after?")));
        EXPECT_EQ(f.service.count("assistant"), 2) << "busy until the session has ended";
        f.service.release("logout");
        finish(std::move(asking));

        EXPECT_EQ(m.session(), SessionState::signedOut);
        ASSERT_TRUE(m.notice());
        EXPECT_EQ(m.notice()->text, expired);
        ASSERT_TRUE(m.askReply());
        EXPECT_EQ(labels(m.askReply()->actions), QStringList{"Open Zephyl"});
        // The exchange stays in view; the account keeps its conversation and its typing.
        EXPECT_EQ(lines(m.catChat()), (QStringList{asked, expired}));
        EXPECT_EQ(lines(CatChatLine::load(RecordStore::of(f.h.store), email)).mid(2), (QStringList{asked, expired}));
        EXPECT_EQ(UnsentTextStore(f.h.store).load(email).ask, QStringLiteral("half a thought"));
        finish(m.ask(QStringLiteral("still there?")));
        EXPECT_EQ(f.service.count("assistant"), 2) << "nothing is asked once the session has ended";

        if (!native) { // the page, reloaded, cannot load or reports nobody before its sign-in
            m.webPageUnavailable();
            EXPECT_EQ(m.session(), SessionState::signedOut) << "the ended session is not taken up again";
            m.webAccountChanged(std::nullopt);
        }
        f.service.failures.clear();
        signIn();
        EXPECT_EQ(lines(m.catChat()).mid(2), (QStringList{asked, expired}));
        EXPECT_EQ(m.askInput(), QStringLiteral("half a thought"));
    }
}

TEST(Ask, ChipsOfAReplyRunWhatTheySay)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    f.service.results["assistant"] =
        reply(QStringLiteral("Done. Shall I open the plan?"), {action(QStringLiteral("open_planner"))});
    finish(m.ask(QStringLiteral("plan my week")));
    const AskReply answer = *m.askReply();
    ASSERT_EQ(answer.actions.size(), 1);
    EXPECT_EQ(answer.actions.first().kind, AskAction::Kind::server);
    EXPECT_EQ(answer.actions.first().label, QStringLiteral("open_planner"));
    EXPECT_EQ(m.catChat().last().actions, answer.actions) << "earlier chips stay usable";
    m.performAsk(answer.actions.first());
    EXPECT_EQ(m.surface(), Surface::plan);

    const qsizetype lines = m.catChat().size();
    m.performAsk(AskAction::make(QStringLiteral("x"), QStringLiteral("Tuck them away"), AskAction::Kind::tuckAway));
    EXPECT_EQ(m.askReply(), (AskReply{QStringLiteral("Sending the cat over."), {}, CatLook::happy}));
    EXPECT_EQ(m.catChat().size(), lines) << "no conversation line for the chip";

    m.performAsk(AskAction::startFocus(QStringLiteral("y"), QStringLiteral("Focus"), 40));
    EXPECT_EQ(m.focus().workMinutes, 40);
    EXPECT_TRUE(m.focus().isRunning());
    m.performAsk(AskAction::make(QStringLiteral("z"), QStringLiteral("End"), AskAction::Kind::stopFocus));
    EXPECT_FALSE(m.focus().isRunning());
}

TEST(LocalAnswers, TypedCommandsAnsweredWithoutTheService)
{
    struct Case {
        const char *name;
        const char *typed;
        bool guard;
        bool trusted;
        std::vector<DistractingWindow> found;
        bool web;
        QString text;
        QStringList chips;
        CatLook look;
        QList<Kind> events;
    };
    const QString sixty = QStringLiteral("Instagram • a very long title that goes on and on and on!!");
    const std::vector<DistractingWindow> two = {window("Firefox", "Instagram"), window("Chromium", "YouTube")};
    const std::vector<DistractingWindow> five = {window("A", "Instagram"), window("B", sixty), window("C", "TikTok"),
                                                 window("D", "YouTube"), window("E", "Facebook")};
    const Case cases[] = {
        {"focus, guard off", "focus 45 minutes", false, true, two, false,
         "On it. 45 minutes of focus, I'll keep watch by the timer.", {"End session"}, CatLook::happy,
         {Kind::focusStarted}},
        {"focus, no permission", "focus 45 minutes", true, false, two, false,
         "On it. 45 minutes of focus, I'll keep watch by the timer. In an X11 session I can tuck away feed "
         "windows too.",
         {"Check again", "End session"}, CatLook::happy, {Kind::focusStarted}},
        {"focus, two feeds open", "focus 45 minutes", true, true, two, false,
         "On it. 45 minutes of focus, I'll keep watch by the timer. I can also tuck away 2 open feed window(s).",
         {"Tuck them away", "End session"}, CatLook::happy, {Kind::focusStarted}},
        {"focus, nothing open", "focus", true, true, {}, false,
         "On it. 25 minutes of focus, I'll keep watch by the timer.", {"End session"}, CatLook::happy,
         {Kind::focusStarted}},
        {"tuck, no permission", "hide instagram", true, false, two, false,
         "To tuck windows away I need to read window titles. X11 allows it without asking; this session is not X11.",
         {"Check again"}, CatLook::concerned, {}},
        {"tuck, nothing open", "hide instagram", true, true, {}, false,
         "I looked: no feed windows are open right now.", {}, CatLook::curious, {}},
        {"tuck, five open", "hide instagram", true, true, five, false,
         "Found 5: A: Instagram; B: Instagram • a very long title that goes ; C: TikTok. Shall I tuck them away? "
         "They minimise to the taskbar and come back when you want.",
         {"Tuck them away"}, CatLook::curious, {}},
        {"stop with no round", "stop focus", true, true, {}, false, "Session ended. The timer is gone.", {},
         CatLook::neutral, {}},
        {"open the plan", "open plan", true, true, {}, false, "Opening Plan.", {}, CatLook::happy,
         {Kind::wantsWorkspace}},
        {"new post, web", "new post", true, true, {}, true,
         "The composer is open. Nothing goes out until you confirm it there.", {}, CatLook::happy,
         {Kind::wantsComposer}},
        {"new post, native", "new post", true, true, {}, false,
         "The composer is open. Nothing goes out until you confirm it there.", {}, CatLook::happy,
         {Kind::wantsWorkspace}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f(!c.web);
        AppModel &m = f.model();
        m.setSession(SessionState::signedOut);
        m.setFocusGuardEnabled(c.guard);
        f.h.windows.isTrusted = true;
        m.setAccessibilityTrusted(c.trusted);
        // The scan reads the fake desktop: one application per window found.
        f.h.windows.apps.clear();
        for (const auto &w : c.found) {
            WindowSource::Application app;
            app.name = w.appName;
            app.windows.push_back({0, w.title, false, std::nullopt});
            f.h.windows.apps.push_back(app);
        }
        finish(m.ask(QString::fromLatin1(c.typed)));
        ASSERT_TRUE(m.askReply());
        EXPECT_EQ(m.askReply()->text, c.text);
        EXPECT_EQ(labels(m.askReply()->actions), c.chips);
        EXPECT_EQ(m.askReply()->look, c.look);
        EXPECT_EQ(f.kinds(), c.events);
        EXPECT_TRUE(f.service.calls.isEmpty());
        EXPECT_FALSE(m.composerPresented() && c.web);
    }
}
