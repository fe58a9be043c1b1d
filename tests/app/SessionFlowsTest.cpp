// Start-up and loading after sign-in: what the user ends up signed in as and
// what is loaded, in which order; the feed's pages; the page's account reports;
// and what happens to one account's data when another arrives or the session ends.

#include "FlowTestSupport.h"

#include "app/UnsavedPlanStore.h"
#include "app/UnsentTextStore.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"

#include <gtest/gtest.h>

using namespace flowtest;
using Outcome = ServiceClient::RestoreOutcome;
using Feed = ZephylWire::InstagramFeedResponse;

namespace {

Feed page(QStringList ids, std::optional<QString> cursor, bool hasMore, Feed::Status status = Feed::Status::synced)
{
    Feed f;
    f.status = status;
    f.cursor = std::move(cursor);
    f.hasMore = hasMore;
    for (const QString &id : ids) {
        ZephylWire::InstagramFeedItem item;
        item.id = id;
        item.caption = id;
        f.items << item;
    }
    return f;
}

QStringList itemIDs(const AppModel &m)
{
    QStringList out;
    for (const auto &item : m.feedItems())
        out << item.id;
    return out;
}

ZephylWire::AssistantThreadStore storeWith(const QString &thread, const QString &text)
{
    ZephylWire::AssistantThreadStore store;
    store.activeThreadId = thread;
    ZephylWire::AssistantThread t;
    t.id = thread;
    t.messages << ZephylWire::AssistantStoredMessage{QStringLiteral("m1"), QStringLiteral("user"), text, 1, {}, {}};
    store.activeThread = t;
    store.threads << ZephylWire::AssistantThreadSummary{thread, QStringLiteral("T"), 1, 1, 1, text};
    return store;
}

const QStringList kAllLoads = {"currentUser",     "instagramProfile",      "planDrafts",
                               "instagramPublications", "assistantThreadStore", "instagramFeed"};

ZephylWire::InstagramProfile instagram(const QString &userId, const QString &username)
{
    ZephylWire::InstagramProfile profile;
    profile.userId = userId;
    profile.username = username;
    return profile;
}

} // namespace

TEST(SessionBootstrap, TheStoredSessionDecidesWhoIsSignedInAndWhatIsLoaded)
{
    struct Case {
        const char *name;
        Outcome outcome;
        bool accountAnswers;
        SessionState session;
        bool unverified;
        bool hasUser;
        QStringList calls;
    };
    const QStringList restoreThenLoads = QStringList{"restoreSession"} + kAllLoads;
    const Case cases[] = {
        {"confirmed", Outcome::signedIn, true, SessionState::signedIn, false, true, restoreThenLoads},
        {"confirmed, account request fails", Outcome::signedIn, false, SessionState::signedIn, false, false,
         restoreThenLoads},
        {"server silent, account answers later", Outcome::unverified, true, SessionState::signedIn, false, true,
         restoreThenLoads},
        {"server silent, account request fails too", Outcome::unverified, false, SessionState::signedIn, true, false,
         restoreThenLoads},
        {"nothing stored", Outcome::signedOut, true, SessionState::signedOut, false, false, {"restoreSession"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        AppModel &m = f.model();
        f.service.results["restoreSession"] = c.outcome;
        if (c.accountAnswers)
            f.service.results["currentUser"] = user(QStringLiteral("Kitty@Example.com"));
        else
            f.service.failures["currentUser"] = std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut));
        finish(m.bootstrap());
        EXPECT_EQ(m.session(), c.session);
        EXPECT_EQ(m.sessionUnverified(), c.unverified);
        EXPECT_EQ(m.user().has_value(), c.hasUser);
        EXPECT_EQ(f.service.calls, c.calls);
        EXPECT_EQ(m.notice(), std::nullopt) << "no load puts up a notice";
        if (c.hasUser) {
            EXPECT_EQ(m.inputOwner(), QStringLiteral("kitty@example.com"));
        }
    }
}

// The same account confirmed, its plan sent once: the application's own test (JourneyKill).
TEST(SessionBootstrap, AnOfflineStartKeepsTheSignedInAccountAndAnotherNamedLaterTakesNothingOfIt)
{
    const QString kitty = QStringLiteral("kitty@example.com");
    Flows f;
    RecordStore &records = RecordStore::of(f.h.store);
    f.service.results["restoreSession"] = Outcome::signedIn;
    f.service.results["currentUser"] = user(kitty);
    finish(f.model().bootstrap());
    f.model().setAskInput(QStringLiteral("half a thought"));
    CatChatLine::save({CatChatLine{QUuid::createUuid(), true, QStringLiteral("hi"), CatLook::neutral, {}}}, records, kitty);
    UnsavedPlanStore(records).save(kitty, {{draft(1), draft(2)}, {draft(1)}, false});

    // The next start finds the service silent.
    f.h.make(&f.service);
    AppModel &m = f.model();
    f.service.calls.clear();
    f.service.results["restoreSession"] = Outcome::unverified;
    f.service.failures["currentUser"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(m.bootstrap());
    EXPECT_EQ(f.service.calls, (QStringList{"restoreSession", "currentUser"})) << "nothing is loaded for it yet";
    EXPECT_TRUE(m.sessionUnverified());
    EXPECT_FALSE(m.instagramKnown()) << "no profile says nothing of the connection";
    ASSERT_TRUE(m.user());
    EXPECT_EQ(m.user()->email, kitty);
    EXPECT_EQ(m.askInput(), QStringLiteral("half a thought"));
    EXPECT_EQ(m.catChat().size(), 1);
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{1, 2}));

    // What is typed and planned now is kept for it, and nothing is sent.
    m.setAskInput(QStringLiteral("half a thought, and more"));
    m.setPlanDrafts({draft(1), draft(2), draft(3)});
    finish(m.savePlan());
    EXPECT_TRUE(f.service.savedPlans.isEmpty());

    // The service answers again, naming another account: each keeps its own.
    f.service.failures.remove("currentUser");
    f.service.results["currentUser"] = user(QStringLiteral("dog@example.com"));
    f.service.results["planDrafts"] = QList<Draft>{draft(1)};
    f.h.clock.advance(std::chrono::minutes(1));
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.sessionUnverified() && !m.planLoading() && !m.planSaving(); }));
    EXPECT_EQ(m.user()->email, QStringLiteral("dog@example.com"));
    EXPECT_TRUE(f.service.savedPlans.isEmpty()) << "kitty's plan is never sent as the other account's";
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_TRUE(m.catChat().isEmpty());
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{1}));
    EXPECT_EQ(UnsentTextStore(records).load(kitty).ask, QStringLiteral("half a thought, and more"));
    EXPECT_EQ(ids(UnsavedPlanStore(records).load(kitty)->drafts), (QList<qint64>{1, 2, 3}));
}

// The profile could not be read while the rest loads: whether Instagram is
// connected is not known (not "not connected") until the service says, asked
// again as soon as it answers anything.
TEST(SessionBootstrap, WhetherInstagramIsConnectedIsKnownOnlyOnceTheServiceHasSaidIt)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["restoreSession"] = Outcome::signedIn;
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    f.service.failures["instagramProfile"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(m.bootstrap());
    EXPECT_FALSE(m.instagramKnown());
    EXPECT_FALSE(m.instagramConnected());

    f.service.failures.remove("instagramProfile");
    f.service.results["instagramProfile"] = std::optional(instagram(QStringLiteral("ig-1"), QStringLiteral("kitty")));
    finish(m.loadPlan());
    ASSERT_TRUE(zktest::spinUntil([&] { return m.instagramKnown(); }));
    EXPECT_TRUE(m.instagramConnected());
    finish(m.signOut());
    EXPECT_FALSE(m.instagramKnown()) << "not known for the next account";
}

TEST(SessionBootstrap, ASessionFailureInTheFirstLoadSignsOutOnceAndTheLaterLoadsSendNothing)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["restoreSession"] = Outcome::signedIn;
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    f.service.failures["instagramProfile"] = std::make_exception_ptr(APIError::unauthorized());
    int notices = 0;
    QObject::connect(&m, &AppModel::noticeChanged, [&] { ++notices; });

    finish(m.bootstrap());
    EXPECT_EQ(f.service.calls, (QStringList{"restoreSession", "currentUser", "instagramProfile", "logout"}));
    EXPECT_EQ(m.session(), SessionState::signedOut);
    EXPECT_EQ(m.user(), std::nullopt);
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_EQ(m.notice()->tone, AppNotice::Tone::attention);
    EXPECT_EQ(notices, 1);
}

TEST(SessionBootstrap, TwoFailuresAtOnceEndTheSessionOnce)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    f.service.held << QStringLiteral("logout");
    auto first = m.expireSession();
    auto second = m.expireSession();
    m.show(APIError::sessionExpired());
    ASSERT_EQ(f.service.waiting("logout"), 1);
    f.service.release("logout");
    finish(std::move(first));
    finish(std::move(second));
    EXPECT_EQ(f.service.count("logout"), 1);
    EXPECT_EQ(m.session(), SessionState::signedOut);
}

TEST(WebAccount, ThePageDecidesTheSessionAndEveryReportWithAnAccountLoadsThreadsThenPlan)
{
    Flows f(false);
    AppModel &m = f.model();
    finish(m.bootstrap());
    EXPECT_EQ(m.session(), SessionState::restoring);
    EXPECT_TRUE(f.service.calls.isEmpty());

    m.webAccountChanged(std::nullopt);
    EXPECT_EQ(m.session(), SessionState::signedOut);
    int changes = 0;
    QObject::connect(&m, &AppModel::sessionChanged, [&] { ++changes; });
    QObject::connect(&m, &AppModel::catChatChanged, [&] { ++changes; });
    m.webAccountChanged(std::nullopt);
    EXPECT_EQ(changes, 0) << "a second report of nobody changes nothing";

    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("Kitty@Example.com"), QString()});
    EXPECT_EQ(m.session(), SessionState::signedIn);
    ASSERT_TRUE(m.user());
    EXPECT_EQ(*m.user(), (ZephylWire::User{QStringLiteral("Kitty@Example.com"), QStringLiteral("Kitty@Example.com"),
                                            std::nullopt, QStringLiteral("member")}));
    EXPECT_EQ(m.inputOwner(), QStringLiteral("kitty@example.com"));
    EXPECT_EQ(f.service.calls, (QStringList{"assistantThreadStore", "planDrafts", "instagramPublications"}))
        << "the profile and the feed are the page's";

    // The native workspace ignores the page altogether.
    Flows native;
    native.model().webAccountChanged(AppModel::WebAccount{QStringLiteral("a@b.c"), QStringLiteral("A")});
    EXPECT_EQ(native.model().session(), SessionState::restoring);
}

TEST(WebAccount, AReportOfNobodyKeepsWhatTheUserTypedForWhenTheAccountComesBack)
{
    Flows f(false);
    AppModel &m = f.model();
    const AppModel::WebAccount kitty{QStringLiteral("kitty@example.com"), QStringLiteral("Kitty")};
    m.webAccountChanged(kitty);
    m.setAskInput(QStringLiteral("half a thought about Friday"));
    m.setAssistantDraft(QStringLiteral("a longer draft"));

    // A page reload: nobody for a moment, then the same account.
    m.webAccountChanged(std::nullopt);
    EXPECT_EQ(m.session(), SessionState::signedOut);
    // Nothing of the account stays on screen, and what is typed now is not
    // filed under it.
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_EQ(m.assistantDraft(), QString());
    EXPECT_TRUE(m.catChat().isEmpty());
    UnsentTextStore store(f.h.store);
    const UnsentTextStore::Text kept{QStringLiteral("a longer draft"), QStringLiteral("half a thought about Friday")};
    EXPECT_EQ(store.load(QStringLiteral("kitty@example.com")), kept);
    m.setAskInput(QStringLiteral("typed while nobody was there"));
    EXPECT_EQ(store.load(QStringLiteral("kitty@example.com")), kept);
    m.setAskInput(QString());
    m.webAccountChanged(kitty);
    EXPECT_EQ(m.askInput(), QStringLiteral("half a thought about Friday"));
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("a longer draft"));

    // Another account sees none of it.
    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("other@example.com"), QString()});
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_EQ(m.assistantDraft(), QString());
}

TEST(WebAccount, AnotherAccountFindsNothingOfThePreviousOneInMemory)
{
    Flows f(false);
    AppModel &m = f.model();
    f.service.results["planDrafts"] = QList<Draft>{draft(1), draft(2)};
    f.service.results["assistantThreadStore"] = storeWith(QStringLiteral("t-a"), QStringLiteral("secret plans"));
    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("a@example.com"), QStringLiteral("A")});
    m.setInstagram(instagram(QStringLiteral("1"), QStringLiteral("a.studio")));
    finish(m.ask(QStringLiteral("what should I post?")));
    ASSERT_EQ(m.planDrafts().size(), 2);
    ASSERT_EQ(m.messages().size(), 1);
    ASSERT_EQ(m.catChat().size(), 2);

    // A's plan save is on its way, with another change queued behind it, when B arrives.
    f.service.held << QStringLiteral("savePlanDrafts");
    auto saving = m.savePlan();
    ASSERT_TRUE(zktest::spinUntil([&] { return f.service.waiting("savePlanDrafts") == 1; }));
    f.service.held << QStringLiteral("planDrafts") << QStringLiteral("assistantThreadStore");
    m.setPlanDrafts({draft(1), draft(2), draft(3)});
    auto queuedSave = m.savePlan();
    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("b@example.com"), QStringLiteral("B")});

    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_TRUE(m.publications().isEmpty());
    EXPECT_TRUE(m.messages().isEmpty());
    EXPECT_TRUE(m.threads().isEmpty());
    EXPECT_EQ(m.activeThreadID(), std::nullopt);
    EXPECT_TRUE(m.catChat().isEmpty());
    EXPECT_EQ(CatChatLine::load(f.h.store), QList<CatChatLine>());
    EXPECT_TRUE(CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("b@example.com")).isEmpty());
    EXPECT_EQ(CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("a@example.com")).size(), 2)
        << "A's conversation stays A's";
    EXPECT_EQ(m.instagram(), std::nullopt);
    EXPECT_FALSE(m.planSaving());
    EXPECT_EQ(m.user()->email, QStringLiteral("b@example.com"));

    f.service.release("savePlanDrafts");
    finish(std::move(saving));
    finish(std::move(queuedSave));
    EXPECT_EQ(f.service.savedPlans.size(), 1) << "A's queued change is never written as B's plan";
    EXPECT_TRUE(m.planDrafts().isEmpty());

    // B's own loads fill the state.
    f.service.release("assistantThreadStore", Reply::of(storeWith(QStringLiteral("t-b"), QStringLiteral("hello"))));
    ASSERT_TRUE(zktest::spinUntil([&] { return f.service.waiting("planDrafts") == 1; }));
    f.service.release("planDrafts", Reply::of(QList<Draft>{draft(9)}));
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planLoading() && m.planDrafts().size() == 1; }));
    EXPECT_EQ(m.activeThreadID(), QStringLiteral("t-b"));
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{9}));
}

TEST(WebAccount, ReportsOfAnyShapeNeverMixTwoAccounts)
{
    struct Case {
        const char *name;
        QString email;
        QString displayName;
        bool sameAccount;  // the previous account's data stays
        QString userEmail; // as the model keeps it
        std::optional<QString> shownName;
    };
    const QString huge(10000, QLatin1Char('a'));
    const Case cases[] = {
        {"the same address in capitals", QStringLiteral(" KITTY@example.com "), QStringLiteral("Kitty"), true,
         QStringLiteral("KITTY@example.com"), QStringLiteral("Kitty")},
        {"an empty address", QString(), QStringLiteral("Kitty"), false, QString(), QStringLiteral("Kitty")},
        {"only white space", QStringLiteral(" \t\n "), QString(), false, QString(), std::nullopt},
        {"white space inside", QStringLiteral("kitty@exa mple.com"), QString(), false, QString(), std::nullopt},
        {"a control character inside", QStringLiteral("kitty@example.com\x01"), QString(), false, QString(),
         std::nullopt},
        {"an address of ten thousand letters", huge + QStringLiteral("@x.y"), QString(), false, QString(),
         std::nullopt},
        {"a name with line breaks and controls", QStringLiteral("kitty@example.com"),
         QStringLiteral("Kit\nty\x07 \u200F"), true, QStringLiteral("kitty@example.com"), QStringLiteral("Kit ty \u200F")},
        {"a name of ten thousand letters", QStringLiteral("kitty@example.com"), huge, true,
         QStringLiteral("kitty@example.com"), QString(200, QLatin1Char('a'))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f(false);
        AppModel &m = f.model();
        f.service.results["planDrafts"] = QList<Draft>{draft(1)};
        m.webAccountChanged(AppModel::WebAccount{QStringLiteral("kitty@example.com"), QStringLiteral("Kitty")});
        m.setAskInput(QStringLiteral("typed by kitty"));
        f.service.held << QStringLiteral("planDrafts"); // the report's own load stays on its way

        m.webAccountChanged(AppModel::WebAccount{c.email, c.displayName});
        EXPECT_EQ(m.session(), SessionState::signedIn);
        ASSERT_TRUE(m.user());
        EXPECT_EQ(m.user()->email, c.userEmail);
        EXPECT_EQ(m.user()->displayName, c.shownName);
        EXPECT_EQ(m.planDrafts().size(), c.sameAccount ? 1 : 0);
        EXPECT_EQ(m.askInput(), c.sameAccount ? QStringLiteral("typed by kitty") : QString());
        EXPECT_EQ(UnsentTextStore(f.h.store).load(QStringLiteral("kitty@example.com")).ask,
                  QStringLiteral("typed by kitty"))
            << "kitty's own record stays for kitty";
    }
}

TEST(WebAccount, AccountsWithoutAnAddressKeepNothingOnDiskAndShareNothing)
{
    // Between X and Y: nothing, a report of nobody, or the end of X's session in the ask panel.
    for (const char *between : {"", "nobody", "expiry"}) {
        SCOPED_TRACE(between);
        Flows f(false);
        AppModel &m = f.model();
        f.service.results["planDrafts"] = QList<Draft>{draft(1)};
        m.webAccountChanged(AppModel::WebAccount{QString(), QStringLiteral("X")});
        ASSERT_TRUE(zktest::spinUntil([&] { return m.planDrafts().size() == 1 && !m.planLoading(); }));
        // X's change cannot be saved; X types in the ask panel.
        f.service.failures["savePlanDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut));
        m.setPlanDrafts({draft(1), draft(2)});
        finish(m.savePlan());
        m.setAskInput(QStringLiteral("typed by x"));
        EXPECT_TRUE(RecordStore::of(f.h.store).owners().isEmpty()) << "nothing is kept for an account without a name";

        f.service.failures.remove("savePlanDrafts");
        f.service.results["planDrafts"] = QList<Draft>{draft(7)};
        f.service.savedPlans.clear();
        if (between == std::string_view("nobody"))
            m.webAccountChanged(std::nullopt);
        if (between == std::string_view("expiry")) {
            f.service.failures["assistant"] = std::make_exception_ptr(APIError::unauthorized());
            finish(m.ask(QStringLiteral("asked by x")));
            f.service.failures.remove("assistant");
        }
        m.webAccountChanged(AppModel::WebAccount{QStringLiteral(" "), QStringLiteral("Y")});
        ASSERT_TRUE(zktest::spinUntil([&] { return !m.planLoading() && !m.planSaving(); }));
        EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{7}));
        EXPECT_EQ(m.askInput(), QString());
        EXPECT_TRUE(m.catChat().isEmpty());
        for (const auto &saved : f.service.savedPlans)
            EXPECT_FALSE(ids(saved).contains(2)) << "X's draft was sent as Y's";
    }
}

TEST(SignIn, SigningInWritesNothingThatWasNotTyped)
{
    Flows f(false);
    const RecordStore &records = RecordStore::of(f.h.store);
    f.model().webAccountChanged(AppModel::WebAccount{QStringLiteral("a@example.com"), QString()});
    f.model().setAskInput(QStringLiteral("typed by a"));
    f.model().webAccountChanged(AppModel::WebAccount{QStringLiteral("b@example.com"), QString()});
    f.model().setAskInput(QString()); // a view writing back its empty field
    EXPECT_EQ(records.owners(), QStringList{QStringLiteral("a@example.com")}) << "b typed nothing";

    Flows native;
    native.service.results["restoreSession"] = Outcome::signedIn;
    native.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    finish(native.model().bootstrap());
    EXPECT_TRUE(RecordStore::of(native.h.store).owners().isEmpty());
}

TEST(WebAccount, ThePagesSignOutForgetsTheAccountsTextAndConversationAndAnOfflineStartKeepsTheLastAccount)
{
    Flows f(false);
    RecordStore &records = RecordStore::of(f.h.store);
    const AppModel::WebAccount kitty{QStringLiteral("kitty@example.com"), QStringLiteral("Kitty")};
    f.model().webAccountChanged(kitty);
    f.model().setAskInput(QStringLiteral("half a thought"));
    finish(f.model().ask(QStringLiteral("hello?")));

    // The next start cannot load the page: the ask panel is kitty's, and keeps what is typed for her.
    f.h.make(&f.service);
    AppModel &m = f.model();
    m.webPageUnavailable();
    EXPECT_EQ(m.session(), SessionState::signedIn);
    EXPECT_TRUE(m.sessionUnverified());
    EXPECT_EQ(m.askInput(), QStringLiteral("half a thought"));
    EXPECT_EQ(m.catChat().size(), 2);
    m.setAskInput(QStringLiteral("half a thought, and more"));
    EXPECT_EQ(UnsentTextStore(records).load(QStringLiteral("kitty@example.com")).ask,
              QStringLiteral("half a thought, and more"));

    // The page loads and reports her, then signs her out.
    m.webAccountChanged(kitty);
    EXPECT_FALSE(m.sessionUnverified());
    m.webAccountChanged(std::nullopt, true);
    EXPECT_EQ(UnsentTextStore(records).load(QStringLiteral("kitty@example.com")), UnsentTextStore::Text{});
    EXPECT_TRUE(CatChatLine::load(records, QStringLiteral("kitty@example.com")).isEmpty());
    m.webAccountChanged(kitty);
    EXPECT_TRUE(m.catChat().isEmpty()) << "not even from memory";
    m.webAccountChanged(std::nullopt, true);
    f.h.make(&f.service);
    f.model().webPageUnavailable();
    EXPECT_EQ(f.model().session(), SessionState::restoring) << "nobody is kept after a sign-out";
    // Back again; the service ends her session in the ask panel while the page
    // still holds it, then the page signs her out.
    AppModel &again = f.model();
    again.webAccountChanged(kitty);
    f.service.failures["assistant"] = std::make_exception_ptr(APIError::unauthorized());
    finish(again.ask(QStringLiteral("still there?")));
    again.webAccountChanged(std::nullopt, true);
    EXPECT_TRUE(CatChatLine::load(records, QStringLiteral("kitty@example.com")).isEmpty());
    EXPECT_TRUE(again.catChat().isEmpty());
}

TEST(SessionExpiry, TheExpiredAccountsDataGoesButItsUnsentTextStays)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["restoreSession"] = Outcome::signedIn;
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    f.service.results["planDrafts"] = QList<Draft>{draft(1)};
    f.service.results["instagramProfile"] =
        std::optional<ZephylWire::InstagramProfile>(instagram(QStringLiteral("1"), QStringLiteral("kitty.studio")));
    f.service.results["assistantThreadStore"] = storeWith(QStringLiteral("t"), QStringLiteral("hi"));
    finish(m.bootstrap());
    m.setAssistantDraft(QStringLiteral("unsent words"));
    ASSERT_TRUE(m.instagram());

    // A reply is on its way when the session ends elsewhere.
    f.service.held << QStringLiteral("assistant");
    auto sending = m.send(QStringLiteral("and then?"));
    finish(m.expireSession());
    EXPECT_EQ(m.session(), SessionState::signedOut);
    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_TRUE(m.messages().isEmpty());
    EXPECT_EQ(m.instagram(), std::nullopt);
    EXPECT_TRUE(m.observations().isEmpty());
    EXPECT_FALSE(m.assistantBusy());
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("unsent words"));
    EXPECT_EQ(UnsentTextStore(f.h.store).load(QStringLiteral("kitty@example.com")).assistant,
              QStringLiteral("unsent words"));

    f.service.release("assistant", Reply::of(ZephylWire::AssistantReply{QStringLiteral("late reply"), {}}));
    EXPECT_EQ(finish(std::move(sending)), std::nullopt);
    EXPECT_TRUE(m.messages().isEmpty()) << "the old account's reply does not land in the signed-out state";
    EXPECT_EQ(f.service.count("saveAssistantThread"), 0);
}

TEST(SessionExpiry, TheAskConversationStaysWithItsAccountAndNeverReachesAnother)
{
    Flows f;
    f.service.results["restoreSession"] = Outcome::signedIn;
    f.service.results["currentUser"] = user(QStringLiteral("a@example.com"));
    finish(f.model().bootstrap());
    f.service.results["assistant"] = ZephylWire::AssistantReply{QStringLiteral("Post on Friday."), {}};
    finish(f.model().ask(QStringLiteral("when should I post?")));
    ASSERT_EQ(f.model().catChat().size(), 2);
    const QList<CatChatLine> asked = f.model().catChat();

    // The session expires: the lines leave the screen, not the account.
    finish(f.model().expireSession());
    EXPECT_TRUE(f.model().catChat().isEmpty());
    EXPECT_EQ(CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("a@example.com")).size(), 2);

    // B signs in on the same computer: sees none of A's lines and sends none as history.
    f.service.results["currentUser"] = user(QStringLiteral("b@example.com"));
    finish(f.model().finishSignIn());
    EXPECT_TRUE(f.model().catChat().isEmpty());
    finish(f.model().ask(QStringLiteral("hello?")));
    EXPECT_TRUE(f.service.histories.last().isEmpty());
    finish(f.model().signOut());

    // A comes back: the conversation as it was, chips included.
    f.service.results["currentUser"] = user(QStringLiteral("A@example.com"));
    finish(f.model().finishSignIn());
    EXPECT_EQ(f.model().catChat(), asked);

    // A restart in which A's stored session cannot be confirmed starts signed
    // out: nobody's lines are shown, and B, signing in, gets none of A's.
    f.h.make(&f.service);
    f.service.results["restoreSession"] = Outcome::signedOut;
    finish(f.model().bootstrap());
    EXPECT_TRUE(f.model().catChat().isEmpty());
    f.service.results["currentUser"] = user(QStringLiteral("b@example.com"));
    finish(f.model().finishSignIn());
    EXPECT_TRUE(f.model().catChat().isEmpty());
    finish(f.model().ask(QStringLiteral("and now?")));
    EXPECT_TRUE(f.service.histories.last().isEmpty());
    EXPECT_EQ(CatChatLine::load(RecordStore::of(f.h.store), QStringLiteral("a@example.com")).size(), 2);
}

TEST(Feed, EachStatusOfAPageLeavesTheGridAsTheUserExpects)
{
    struct Case {
        const char *name;
        bool reset;
        Reply reply;
        QStringList items;
        FeedStatus status;
        bool hasMore;
    };
    const Case cases[] = {
        {"first page replaces", true, Reply::of(page({"n1", "n2"}, QStringLiteral("c2"), true)), {"n1", "n2"},
         FeedStatus::synced(), true},
        {"next page appends", false, Reply::of(page({"n1"}, QStringLiteral("c2"), true)), {"o1", "n1"},
         FeedStatus::synced(), true},
        {"more without a cursor is the end", true, Reply::of(page({"n1"}, std::nullopt, true)), {"n1"},
         FeedStatus::synced(), false},
        {"disconnected empties", true, Reply::of(page({}, std::nullopt, false, Feed::Status::disconnected)), {},
         FeedStatus::disconnected(), false},
        {"not configured keeps", true, Reply::of(page({}, std::nullopt, false, Feed::Status::notConfigured)), {"o1"},
         FeedStatus::unavailable(QStringLiteral("not_configured")), false},
        {"unsupported provider keeps", true,
         Reply::of(page({}, std::nullopt, false, Feed::Status::unsupportedProvider)), {"o1"},
         FeedStatus::unavailable(QStringLiteral("unsupported_provider")), false},
        {"unknown keeps", true, Reply::of(page({}, std::nullopt, false, Feed::Status::unknown)), {"o1"},
         FeedStatus::unavailable(QStringLiteral("unknown")), false},
        {"a failure is described and keeps", true, Reply::error(APIError::rejected(QStringLiteral("feed_unavailable"))),
         {"o1"}, FeedStatus::unavailable(QStringLiteral("The Instagram feed is not available right now.")), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedIn);
        m.setFeedItems(page({"o1"}, {}, false).items);
        m.setFeedHasMore(true);
        m.feedCursor = QStringLiteral("c1");
        f.service.queued["instagramFeed"].push_back(c.reply);
        finish(m.loadFeed(c.reset));
        EXPECT_EQ(itemIDs(m), c.items);
        EXPECT_EQ(m.feedStatus(), c.status);
        EXPECT_EQ(m.feedHasMore(), c.hasMore);
        EXPECT_EQ(f.service.feedCursors, (QList<std::optional<QString>>{c.reset ? std::nullopt
                                                                                : std::optional(QStringLiteral("c1"))}));
    }
}

TEST(Feed, ANextPageWaitsForTheFirstAndANextPageAfterAResetIsDropped)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    f.service.held << QStringLiteral("instagramFeed");

    auto first = m.loadFeed(true);
    finish(m.loadFeed(false));
    EXPECT_EQ(f.service.count("instagramFeed"), 1) << "no next page while the first is loading";
    f.service.release("instagramFeed", Reply::of(page({"a1", "a2"}, QStringLiteral("after-a"), true)));
    finish(std::move(first));

    // The next page is on its way when the user pulls the grid afresh.
    auto stale = m.loadFeed(false);
    auto fresh = m.loadFeed(true);
    f.service.release("instagramFeed", Reply::of(page({"stale"}, QStringLiteral("stale-cursor"), true)));
    finish(std::move(stale));
    EXPECT_EQ(m.feedStatus(), FeedStatus::loading());
    f.service.release("instagramFeed", Reply::of(page({"b1"}, QStringLiteral("after-b"), true)));
    finish(std::move(fresh));
    EXPECT_EQ(itemIDs(m), (QStringList{"b1"}));
    EXPECT_EQ(m.feedCursor, QStringLiteral("after-b"));

    // And the other way round: an older reset that answers last changes nothing.
    auto older = m.loadFeed(true);
    auto newer = m.loadFeed(true);
    f.service.releaseLast("instagramFeed", Reply::of(page({"new"}, std::nullopt, false)));
    finish(std::move(newer));
    f.service.release("instagramFeed", Reply::of(page({"old"}, QStringLiteral("old-cursor"), true)));
    finish(std::move(older));
    EXPECT_EQ(itemIDs(m), (QStringList{"new"})) << "the load started first answered last and was superseded";
    EXPECT_EQ(m.feedCursor, std::nullopt);
    EXPECT_EQ(m.feedStatus(), FeedStatus::synced());
}
