// Connecting Instagram and the plan's drafts: what the user sees after each
// ending of the browser step, and that no plan edit is lost or saved out of order.

#include "FlowTestSupport.h"

#include "app/DraftEditStore.h"
#include "app/UnsentTextStore.h"
#include "base/RecordStore.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace flowtest;
using Profile = ZephylWire::InstagramProfile;

namespace {

std::optional<Profile> profile(const QString &username)
{
    Profile p;
    p.userId = QStringLiteral("ig-1");
    p.username = username;
    return p;
}

} // namespace

TEST(InstagramConnection, EachEndingOfTheBrowserStep)
{
    struct Case {
        const char *name;
        WebScript::End end;
        QString callback;
        std::optional<Profile> reloaded;
        std::optional<QString> notice;
        AppNotice::Tone tone;
        QStringList calls;
        bool catSpeaks;
    };
    const QStringList reload = {"instagramAuthorizationURL", "instagramProfile", "instagramFeed"};
    const Case cases[] = {
        {"connected", WebScript::End::callback, QStringLiteral("sorvane://instagram-connected?status=connected"),
         profile(QStringLiteral("kitty.studio")), QStringLiteral("Connected as @kitty.studio"),
         AppNotice::Tone::settled, reload, true},
        {"connected, but the profile does not come back", WebScript::End::callback,
         QStringLiteral("sorvane://instagram-connected?status=connected"), std::nullopt, std::nullopt,
         AppNotice::Tone::settled, reload, false},
        {"refused at Instagram", WebScript::End::callback,
         QStringLiteral("sorvane://instagram-connected?status=access_denied"), std::nullopt,
         QStringLiteral("Instagram answered: access_denied"), AppNotice::Tone::attention,
         {"instagramAuthorizationURL"}, false},
        {"status in other letters", WebScript::End::callback,
         QStringLiteral("sorvane://instagram-connected?status=Connected"), std::nullopt,
         QStringLiteral("Instagram answered: Connected"), AppNotice::Tone::attention, {"instagramAuthorizationURL"},
         false},
        {"no status", WebScript::End::callback, QStringLiteral("sorvane://instagram-connected"), std::nullopt,
         QStringLiteral("Instagram answered: invalid_response"), AppNotice::Tone::attention,
         {"instagramAuthorizationURL"}, false},
        {"closed by the user", WebScript::End::cancelled, {}, std::nullopt, std::nullopt, AppNotice::Tone::settled,
         {"instagramAuthorizationURL", "reportInstagramConnectionAbandoned"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WebScriptGuard web;
        web->end = c.end;
        web->callback = QUrl(c.callback);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedIn);
        f.service.results["instagramAuthorizationURL"] = QUrl(QStringLiteral("https://service.example/ig?grant=1"));
        f.service.results["instagramProfile"] = c.reloaded;
        finish(m.connectInstagram(true));
        EXPECT_EQ(f.service.calls, c.calls);
        EXPECT_EQ(m.notice() ? std::optional(m.notice()->text) : std::nullopt, c.notice);
        if (m.notice()) {
            EXPECT_EQ(m.notice()->tone, c.tone);
        }
        EXPECT_EQ(f.kinds().contains(AppEvent::Kind::say), c.catSpeaks);
        if (c.catSpeaks) {
            EXPECT_EQ(f.h.events.last().text, QStringLiteral("@kitty.studio is connected. I'll keep an eye on the plan."));
        }
        EXPECT_FALSE(m.instagramBusy());
        EXPECT_EQ(web->ephemeral, QList<bool>{true});
    }
}

TEST(InstagramConnection, OneRunAtATimeAndADisconnectionEmptiesTheGrid)
{
    WebScriptGuard web;
    web->end = WebScript::End::heldOpen;
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    f.service.results["instagramAuthorizationURL"] = QUrl(QStringLiteral("https://service.example/ig"));
    auto connecting = m.connectInstagram(false);
    EXPECT_TRUE(m.instagramBusy());
    finish(m.connectInstagram(false));
    finish(m.disconnectInstagram());
    EXPECT_EQ(f.service.calls, QStringList{"instagramAuthorizationURL"});
    EXPECT_EQ(web->opened.size(), 1);

    Flows g;
    AppModel &n = g.model();
    n.setSession(SessionState::signedIn);
    n.setInstagram(profile(QStringLiteral("kitty.studio")));
    ZephylWire::InstagramFeedItem item;
    item.id = QStringLiteral("p1");
    n.setFeedItems({item});
    n.rebuildObservations();
    g.service.failures["disconnectInstagram"] = std::make_exception_ptr(APIError::rejected(QStringLiteral("rate_limited")));
    finish(n.disconnectInstagram());
    EXPECT_EQ(n.notice()->text, QStringLiteral("Too many requests in a row. Give it a minute."));
    EXPECT_TRUE(n.instagram());
    EXPECT_EQ(n.feedItems().size(), 1);

    g.service.failures.clear();
    finish(n.disconnectInstagram());
    EXPECT_EQ(n.instagram(), std::nullopt);
    EXPECT_TRUE(n.feedItems().isEmpty());
    EXPECT_EQ(n.feedStatus(), FeedStatus::disconnected());
    ASSERT_FALSE(n.observations().isEmpty());
    EXPECT_EQ(n.observations().first().id, QStringLiteral("connect")) << "the cards are rebuilt without the account";
    EXPECT_FALSE(n.instagramBusy());
}

TEST(PlanDrafts, NewIdsAreAboveEveryDraftAndNotBeforeNow)
{
    Flows f;
    AppModel &m = f.model();
    const qint64 now = f.h.clock.now().toMSecsSinceEpoch();
    EXPECT_EQ(m.nextDraftID(), now);
    m.setPlanDrafts({draft(5), draft(now + 1000), draft(7)});
    EXPECT_EQ(m.nextDraftID(), now + 1001);
    m.setPlanDrafts({draft(now - 1)});
    EXPECT_EQ(m.nextDraftID(), now);
    m.setPlanDrafts({draft(std::numeric_limits<qint64>::max())});
    EXPECT_EQ(m.nextDraftID(), now) << "no overflow at the top of the range";
}

TEST(PlanDrafts, TheGridOrdersVisibleDraftsBySlotThenPlace)
{
    struct Case {
        const char *name;
        QList<Draft> drafts;
        QList<qint64> grid;
    };
    const Case cases[] = {
        {"list order without gridSlots", {draft(1), draft(2), draft(3)}, {1, 2, 3}},
        {"a hidden draft takes no place", {draft(1), draft(2, std::nullopt, true), draft(3), draft(4)}, {1, 3, 4}},
        {"equal keys: the place decides", {draft(1), draft(2, 5), draft(3, 0)}, {1, 3, 2}},
        {"gridSlots reorder", {draft(1, 2), draft(2, 0), draft(3, 1)}, {2, 3, 1}},
        {"negative and huge gridSlots", {draft(1, std::numeric_limits<qint64>::max()), draft(2, -4), draft(3)}, {2, 3, 1}},
        {"nothing visible", {draft(1, 0, true)}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        f.model().setPlanDrafts(c.drafts);
        EXPECT_EQ(ids(f.model().gridDrafts()), c.grid);
    }
}

TEST(PlanDrafts, MovesPastEitherEndAndUnknownIdsSendNothing)
{
    struct Case {
        const char *name;
        qint64 id;
        int offset;
        QList<std::optional<qint64>> gridSlots; // of drafts 1..5 after the move
        bool saved;
    };
    using S = std::optional<qint64>;
    const Case cases[] = {
        {"first by -1", 1, -1, {S(), S(), S(), S(), S(7)}, false},
        {"last by +1", 4, +1, {S(), S(), S(), S(), S(7)}, false},
        {"far past the end", 2, 1000, {S(), S(), S(), S(), S(7)}, false},
        {"unknown id", 99, 1, {S(), S(), S(), S(), S(7)}, false},
        {"a hidden draft", 5, -1, {S(), S(), S(), S(), S(7)}, false},
        {"second by +1", 2, +1, {S(0), S(2), S(1), S(3), S(7)}, true},
        {"by 0 renumbers", 3, 0, {S(0), S(1), S(2), S(3), S(7)}, true},
        {"last to first by -3", 4, -3, {S(3), S(1), S(2), S(0), S(7)}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedIn);
        m.setPlanDrafts({draft(1), draft(2), draft(3), draft(4), draft(5, 7, true)});
        finish(m.moveDraft(c.id, c.offset), "the move and its save");
        QList<std::optional<qint64>> gridSlots;
        for (const auto &d : m.planDrafts())
            gridSlots << d.gridSlot;
        EXPECT_EQ(gridSlots, c.gridSlots);
        EXPECT_EQ(f.service.savedPlans.size(), c.saved ? 1 : 0);
        if (c.saved) {
            EXPECT_EQ(f.service.savedPlans.first(), m.planDrafts());
        }
    }

    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    m.setPlanDrafts({draft(1)});
    finish(m.setDraftHidden(2, true), "the hiding and its save");
    EXPECT_TRUE(f.service.savedPlans.isEmpty());
    finish(m.setDraftHidden(1, false), "the showing and its save");
    EXPECT_EQ(f.service.savedPlans.size(), 1) << "setting the value it already had still saves";
    finish(m.setDraftHidden(1, true), "the hiding and its save");
    EXPECT_TRUE(f.service.savedPlans.last().first().hiddenFromGrid);

    // Two drafts under one id: the one named by its place among them moves and
    // hides, and each keeps a slot of its own; its twin stays where it was.
    Draft second = draft(1);
    second.title = QStringLiteral("twin");
    m.setPlanDrafts({draft(1), draft(2), second, draft(3)});
    finish(m.moveDraft(1, -1, 1), "the twin's move and its save");
    QList<std::optional<qint64>> gridSlots;
    for (const auto &d : m.planDrafts())
        gridSlots << d.gridSlot;
    EXPECT_EQ(gridSlots, (QList<std::optional<qint64>>{0, 2, 1, 3}));
    EXPECT_EQ(m.gridDrafts().at(1).title, QStringLiteral("twin"));
    finish(m.setDraftHidden(1, true, 1), "the twin's hiding and its save");
    EXPECT_FALSE(m.planDrafts().at(0).hiddenFromGrid);
    EXPECT_TRUE(m.planDrafts().at(2).hiddenFromGrid);
    EXPECT_EQ(f.service.savedPlans.last(), m.planDrafts());
    const qsizetype saves = f.service.savedPlans.size();
    finish(m.setDraftHidden(1, true, 2), "no third draft under the id");
    finish(m.moveDraft(1, +1, 2), "no third draft under the id");
    EXPECT_EQ(f.service.savedPlans.size(), saves);
}

TEST(PlanDrafts, AFailedSaveKeepsEveryLocalEditMarksItUnsavedAndSaysSo)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    f.service.results["planDrafts"] = QList<Draft>{draft(1), draft(2), draft(3)};
    finish(m.loadPlan(), "the first load");
    f.service.results["planDrafts"] = QList<Draft>{draft(1)}; // what the server holds
    f.service.held << QStringLiteral("savePlanDrafts");

    // Two swapped: moved here, they outweigh their deletion there.
    auto moving = m.moveDraft(2, +1);
    // Another edit while the save is on its way.
    QList<Draft> edited = m.planDrafts();
    edited[2].title = QStringLiteral("Written meanwhile");
    m.setPlanDrafts(edited);
    auto hiding = m.setDraftHidden(3, true);
    f.service.release("savePlanDrafts",
                      Reply::error(NetworkError(NetworkError::Code::cannotConnectToHost)));
    finish(std::move(moving), "the move's failed save");
    finish(std::move(hiding), "the hiding's save, queued behind the move's");

    EXPECT_EQ(f.service.savedPlans.size(), 1) << "the failure ends the round; the next try waits for the service";
    EXPECT_EQ(f.service.count("planDrafts"), 2) << "read just before the write, not fetched over the edits after it";
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{1, 2, 3}));
    EXPECT_EQ(m.planDrafts()[2].title, QStringLiteral("Written meanwhile"));
    EXPECT_TRUE(m.planDrafts()[2].hiddenFromGrid);
    EXPECT_EQ(ids(m.gridDrafts()), (QList<qint64>{1, 2}));
    EXPECT_EQ(m.planDrafts()[1].gridSlot, 2);
    EXPECT_TRUE(m.planUnsaved());
    EXPECT_FALSE(m.planSaving());
    ASSERT_TRUE(m.notice());
    // No account is named in this session, so nothing is kept on the computer either.
    EXPECT_EQ(m.notice()->text, QStringLiteral("No connection to sorvane.app right now. Plan changes are not saved yet "
                                               "and could not be kept on this computer."));
    EXPECT_EQ(m.notice()->tone, AppNotice::Tone::attention);

    // A reload of the plan meanwhile does not undo them either; the service
    // answered, so they go again at once.
    finish(m.loadPlan(), "the plan's load");
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{1, 2, 3}));
    ASSERT_EQ(f.service.waiting("savePlanDrafts"), 1);
    EXPECT_EQ(f.service.savedPlans.last(), m.planDrafts());
    f.service.release("savePlanDrafts");
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planSaving(); }));

    // The next save sends everything that was kept.
    f.service.held.clear();
    finish(m.savePlan(), "the plan's save");
    EXPECT_FALSE(m.planUnsaved());
    EXPECT_EQ(f.service.savedPlans.last(), m.planDrafts());
}

TEST(PlanDrafts, SavesRunOneAtATimeAndABurstOfEditsBecomesOneMoreSave)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    m.setPlanDrafts({draft(1), draft(2), draft(3), draft(4)});
    f.service.held << QStringLiteral("savePlanDrafts");
    QList<bool> savingSeen;
    QObject::connect(&m, &AppModel::planSavingChanged, [&] { savingSeen << m.planSaving(); });

    auto first = m.moveDraft(1, +1);
    std::vector<QCoro::Task<>> burst;
    for (int i = 0; i < 10; ++i)
        burst.push_back(m.moveDraft(4, -1));
    EXPECT_EQ(f.service.waiting("savePlanDrafts"), 1) << "one save in flight";
    const QList<Draft> final = m.planDrafts();

    f.service.release("savePlanDrafts");
    ASSERT_TRUE(zktest::spinUntil([&] { return f.service.waiting("savePlanDrafts") == 1; }));
    EXPECT_EQ(f.service.savedPlans.size(), 2);
    EXPECT_EQ(f.service.savedPlans.last(), final) << "the second save carries the latest list";
    EXPECT_FALSE(burst.front().isReady()) << "a save that joined the running one returns once its edits are written";
    f.service.release("savePlanDrafts");
    finish(std::move(first), "the first save");
    for (auto &t : burst)
        finish(std::move(t), "a save of the burst");
    EXPECT_EQ(f.service.savedPlans.size(), 2);
    EXPECT_EQ(savingSeen, (QList<bool>{true, false}));
    EXPECT_FALSE(m.planUnsaved());

    // A load that began before an edit does not overwrite it.
    f.service.held = {QStringLiteral("planDrafts")};
    auto loading = m.loadPlan();
    m.setPlanDrafts({draft(42)});
    auto saving = m.savePlan();
    f.service.releaseLast("planDrafts"); // the save's own read, just before it writes
    finish(std::move(saving), "the plan's save");
    f.service.release("planDrafts", Reply::of(QList<Draft>{draft(1)}));
    finish(std::move(loading), "the plan's load");
    EXPECT_EQ(ids(m.planDrafts()), (QList<qint64>{42}));
}

TEST(PlanDrafts, ASaveCutShortIsFoundAfterARestartShownUnsavedAndSentAgainForItsAccountOnly)
{
    const AppModel::WebAccount kitty{QStringLiteral("kitty@example.com"), QStringLiteral("Kitty")};
    Flows f(false);
    f.service.results["planDrafts"] = QList<Draft>{draft(1), draft(2)};
    QList<Draft> moved;
    {
        AppModel &m = f.model();
        m.webAccountChanged(kitty);
        ASSERT_TRUE(zktest::spinUntil([&] { return m.planDrafts().size() == 2 && !m.planLoading(); }));
        // The save is on its way when the application ends.
        f.service.held << QStringLiteral("savePlanDrafts");
        auto moving = m.moveDraft(1, +1);
        moved = m.planDrafts();
        ASSERT_EQ(f.service.waiting("savePlanDrafts"), 1);
        f.h.make(&f.service);
    }
    f.service.held.clear();
    f.service.release("savePlanDrafts", Reply::error(NetworkError(NetworkError::Code::connectionLost)));

    // Another account signing in here finds the service's plan, not the kept one.
    AppModel &other = f.model();
    other.webAccountChanged(AppModel::WebAccount{QStringLiteral("other@example.com"), QString()});
    ASSERT_TRUE(zktest::spinUntil([&] { return other.planDrafts().size() == 2 && !other.planLoading(); }));
    EXPECT_NE(other.planDrafts(), moved);
    EXPECT_FALSE(other.planUnsaved());

    // The same account again: the kept list is shown, and sent once more.
    f.h.make(&f.service);
    AppModel &m = f.model();
    const int savesBefore = f.service.savedPlans.size();
    m.webAccountChanged(kitty);
    ASSERT_TRUE(zktest::spinUntil([&] { return f.service.savedPlans.size() == savesBefore + 1 && !m.planSaving(); }));
    EXPECT_EQ(m.planDrafts(), moved);
    EXPECT_EQ(f.service.savedPlans.last(), moved);
    EXPECT_FALSE(m.planUnsaved()) << "sent again and taken";
    // Taken: a later restart finds nothing kept.
    f.h.make(&f.service);
    f.model().webAccountChanged(kitty);
    ASSERT_TRUE(zktest::spinUntil([&] { return !f.model().planLoading() && !f.model().planDrafts().isEmpty(); }));
    EXPECT_EQ(f.service.savedPlans.size(), savesBefore + 1);
}

TEST(PlanDrafts, ASaveWhileSignedOutKeepsTheEditAndSaysItIsNotSaved)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedOut);
    m.setPlanDrafts({draft(1), draft(2)});
    finish(m.moveDraft(1, +1), "the move while signed out");
    EXPECT_TRUE(f.service.savedPlans.isEmpty());
    EXPECT_EQ(ids(m.gridDrafts()), (QList<qint64>{2, 1}));
    EXPECT_TRUE(m.planUnsaved());
    ASSERT_TRUE(m.notice().has_value());
    // In memory only: with nobody signed in there is no account to keep it for on this computer.
    EXPECT_EQ(m.notice()->text, QStringLiteral("Plan changes are not saved yet and could not be kept on this computer."));
}

TEST(PlanDrafts, ASessionFailureWhileSavingEndsTheSession)
{
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    m.setPlanDrafts({draft(1)});
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(APIError::unauthorized());
    finish(m.savePlan(), "the plan's save");
    ASSERT_TRUE(zktest::spinUntil([&] { return m.session() == SessionState::signedOut; }));
    EXPECT_EQ(m.notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_EQ(f.service.count("logout"), 1);
}

namespace {

QStringList titles(const QList<Draft> &drafts)
{
    QStringList out;
    for (const Draft &d : drafts)
        out << d.title;
    return out;
}

Draft titled(qint64 id, const char *title)
{
    Draft d = draft(id);
    d.title = QString::fromUtf8(title);
    return d;
}

Draft slotted(Draft d, qint64 gridSlot)
{
    d.gridSlot = gridSlot;
    return d;
}

// A native start of kitty's account over a service that holds `server`.
void startKitty(Flows &f, const QList<Draft> &server, const QString &email = QStringLiteral("kitty@example.com"))
{
    f.service.results["restoreSession"] = ServiceClient::RestoreOutcome::signedIn;
    f.service.results["currentUser"] = user(email);
    f.service.results["planDrafts"] = server;
    finish(f.model().bootstrap(), "the start");
}

} // namespace

TEST(PlanDrafts, AKeptPlanMeetsWhatTheServiceHoldsNowDraftByDraft)
{
    const QList<Draft> base = {titled(1, "one"),     titled(2, "two"),   titled(3, "three"), titled(5, "five"),
                               titled(7, "seven"),   titled(8, "eight"), titled(9, "nine")};
    const QList<Draft> ours = {titled(1, "edited here, save cut short"), titled(2, "two"), titled(5, "five ours"),
                               titled(4, "added here"), titled(7, "seven edited here"), titled(9, "nine, both")};
    const QList<Draft> server = {titled(1, "one"),         titled(2, "new draft written elsewhere"),
                                 titled(3, "three"),       titled(5, "five theirs"),
                                 titled(6, "added there"), titled(8, "eight edited there"),
                                 titled(9, "nine, both")};
    struct Case {
        const char *name;
        QList<Draft> base;
        QList<Draft> server;
        QList<Draft> sent;
    };
    Draft copy = titled(0, "five ours");
    const Case cases[] = {
        {"the service's list is still the base: ours goes as it is", base, base, ours},
        {"the service changed meanwhile: changed only here is ours, deleted here goes, changed only there and added "
         "there stay, changed on both keeps ours in its one draft, changed here and deleted there is ours, deleted "
         "here and changed there is theirs, the same change on both sides is one draft",
         base, server,
         {titled(1, "edited here, save cut short"), titled(2, "new draft written elsewhere"), titled(5, "five ours"),
          titled(6, "added there"), titled(8, "eight edited there"), titled(9, "nine, both"), titled(4, "added here"),
          titled(7, "seven edited here")}},
        {"a record of an older version, without its base: nothing either side holds is lost", {}, server,
         {titled(1, "one"), titled(2, "new draft written elsewhere"), titled(3, "three"), titled(5, "five theirs"),
          titled(6, "added there"), titled(8, "eight edited there"), titled(9, "nine, both"), titled(4, "added here"),
          titled(7, "seven edited here"), titled(0, "edited here, save cut short"), titled(0, "two"), copy}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        UnsavedPlanStore(f.h.store).save(QStringLiteral("kitty@example.com"), {ours, c.base, false});
        // The account comes back written in other letters: still its plan.
        startKitty(f, c.server, QStringLiteral("Kitty@Example.COM"));
        ASSERT_TRUE(zktest::spinUntil([&] { return !f.service.savedPlans.isEmpty() && !f.model().planSaving(); }));
        const QList<Draft> sent = f.service.savedPlans.last();
        ASSERT_EQ(sent.size(), c.sent.size()) << ids(sent).size();
        for (qsizetype i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].title, c.sent[i].title) << i;
            if (c.sent[i].id != 0)
                EXPECT_EQ(sent[i].id, c.sent[i].id) << i;
            else
                EXPECT_GE(sent[i].id, f.h.clock.now().toMSecsSinceEpoch()) << "a new draft's id, " << i;
        }
        EXPECT_EQ(f.model().planDrafts(), sent);
        EXPECT_FALSE(f.model().planUnsaved());
        EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt) << "taken";
    }
}

TEST(PlanDrafts, TwoDraftsTheServiceHoldsUnderOneIdBothStayBesideAnEditOfTheFirst)
{
    Flows f;
    UnsavedPlanStore(f.h.store).save(QStringLiteral("kitty@example.com"), {{titled(1, "edited here")}, {titled(1, "one")}, false});
    startKitty(f, {titled(1, "one"), titled(1, "twin")});
    ASSERT_TRUE(zktest::spinUntil([&] { return !f.service.savedPlans.isEmpty() && !f.model().planSaving(); }));
    QStringList sent;
    for (const Draft &d : f.service.savedPlans.last())
        sent << QStringLiteral("%1 %2").arg(d.id).arg(d.title);
    EXPECT_EQ(sent, (QStringList{"1 edited here", "1 twin"}));

    // A draft added here and one added there under one id, both in the grid's
    // first place: ours goes under a new id, leaving that place to theirs.
    Flows g;
    Draft mine = titled(5, "mine"), theirs = titled(5, "theirs");
    mine.gridSlot = theirs.gridSlot = 0;
    UnsavedPlanStore(g.h.store).save(QStringLiteral("kitty@example.com"), {{titled(1, "one"), mine}, {titled(1, "one")}, false});
    startKitty(g, {titled(1, "one"), theirs});
    ASSERT_TRUE(zktest::spinUntil([&] { return !g.service.savedPlans.isEmpty() && !g.model().planSaving(); }));
    const QList<Draft> written = g.service.savedPlans.last();
    ASSERT_EQ(titles(written), (QStringList{"one", "theirs", "mine"}));
    EXPECT_EQ(written[1].gridSlot, 0);
    EXPECT_GT(written[2].id, 5);
    EXPECT_EQ(written[2].gridSlot, std::nullopt) << "two tiles would claim one place";
}

// Read at the start; 20 s later another device adds a draft and changes the
// first one's caption. Every whole-list write here reads the service's list
// just before it writes, so that draft and that caption stay. A draft it
// deleted meanwhile stays deleted, unless it was changed here: then it is
// kept, and said.
TEST(PlanDrafts, EveryWholeListWriteReadsTheServicesListJustBeforeAndKeepsWhatAnotherDeviceWrote)
{
    Draft captioned = titled(1, "one");
    captioned.caption = QStringLiteral("written on the phone");
    const QList<Draft> there = {captioned, titled(2, "two"), titled(9, "Phone draft")};
    Draft hidden = titled(2, "two");
    hidden.hiddenFromGrid = true;
    Draft first = captioned, second = titled(2, "two");
    first.gridSlot = 1;
    second.gridSlot = 0;
    Draft here = titled(1, "one");
    here.caption = QStringLiteral("written here");
    Draft morningCaptioned = titled(4, "Morning light");
    morningCaptioned.caption = QStringLiteral("written here");
    struct Case {
        const char *name;
        std::function<QCoro::Task<>(AppModel &)> write;
        QList<Draft> sent;
        QString notice = QString();
        // Read at the start as well, and deleted by the other device.
        QList<Draft> deletedThere = {};
    };
    const auto edited = [](AppModel &m, QList<Draft> drafts) {
        m.setPlanDrafts(std::move(drafts));
        return m.savePlan();
    };
    const Case cases[] = {
        {"a new draft saved",
         [&](AppModel &m) { return edited(m, m.planDrafts() + QList<Draft>{titled(3, "Kitchen window")}); },
         there + QList<Draft>{titled(3, "Kitchen window")}},
        {"a draft saved from its editor without a change", [&](AppModel &m) { return edited(m, m.planDrafts()); }, there},
        {"a draft deleted", [&](AppModel &m) { return edited(m, {titled(1, "one")}); }, {captioned, titled(9, "Phone draft")}},
        {"a draft hidden from the grid", [](AppModel &m) { return m.setDraftHidden(2, true); },
         {captioned, hidden, titled(9, "Phone draft")}},
        {"a draft moved in the grid", [](AppModel &m) { return m.moveDraft(2, -1); },
         {first, second, titled(9, "Phone draft")}},
        {"a caption the other device changed too: the one written here, said",
         [&](AppModel &m) { return edited(m, {here, titled(2, "two")}); }, {here, titled(2, "two"), titled(9, "Phone draft")},
         QStringLiteral("Also changed on another device: one. Where both changed the same thing, your change here was "
                        "kept and the other device's was replaced.")},
        {"a new draft saved beside one the other device deleted: it stays deleted",
         [&](AppModel &m) { return edited(m, m.planDrafts() + QList<Draft>{titled(3, "Kitchen window")}); },
         there + QList<Draft>{titled(3, "Kitchen window")}, QString(), {titled(4, "Morning light")}},
        {"a caption written here on the draft the other device deleted: kept, said",
         [&](AppModel &m) { return edited(m, {titled(1, "one"), titled(2, "two"), morningCaptioned}); },
         there + QList<Draft>{morningCaptioned},
         QStringLiteral("Deleted on another device but changed here, so it was kept: Morning light."),
         {titled(4, "Morning light")}},
        // A move numbers every tile anew; the deleted one's new number moves nothing.
        {"another tile moved beside the draft the other device deleted: it stays deleted",
         [](AppModel &m) { return m.moveDraft(2, -1); }, {first, second, titled(9, "Phone draft")}, QString(),
         {titled(4, "Morning light")}},
        {"the draft the other device deleted moved here: kept, said", [](AppModel &m) { return m.moveDraft(4, -1); },
         {slotted(captioned, 0), slotted(titled(2, "two"), 2), titled(9, "Phone draft"), slotted(titled(4, "Morning light"), 1)},
         QStringLiteral("Deleted on another device but changed here, so it was kept: Morning light."),
         {titled(4, "Morning light")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        startKitty(f, QList<Draft>{titled(1, "one"), titled(2, "two")} + c.deletedThere);
        f.h.clock.advance(std::chrono::seconds(20));
        f.service.results["planDrafts"] = there;
        f.service.calls.clear();
        finish(c.write(f.model()), "the write");
        EXPECT_EQ(f.service.calls, (QStringList{"planDrafts", "savePlanDrafts"}));
        ASSERT_FALSE(f.service.savedPlans.isEmpty());
        EXPECT_EQ(titles(f.service.savedPlans.last()), titles(c.sent));
        EXPECT_EQ(f.service.savedPlans.last(), c.sent);
        EXPECT_EQ(f.model().planDrafts(), c.sent);
        EXPECT_FALSE(f.model().planUnsaved());
        EXPECT_EQ(f.model().notice() ? f.model().notice()->text : QString(), c.notice);
    }
}

// Each field is met on its own against the list last read: one draft stays
// for each draft, with what each side changed; the same field changed on both
// sides keeps the change made here and says so. Twins (drafts sharing an id)
// are known by what they hold, not their place.
TEST(PlanDrafts, AMergeTakesEachFieldFromTheSideThatChangedItAndKeepsOneDraftForEach)
{
    const auto with = [](Draft d, const std::function<void(Draft &)> &change) {
        change(d);
        return d;
    };
    const Draft two = titled(2, "Two");
    const auto twin = [](const char *title, const char *caption) {
        Draft d = titled(7, title);
        d.caption = QString::fromUtf8(caption);
        return d;
    };
    const Draft one7 = twin("Twin one", "first words"), two7 = twin("Twin two", "second words");
    // Another client wrote Two's hashtags as a list and its place as text.
    const Draft oddTwo = Draft::fromJson(QJsonObject{{"id", 2}, {"title", "Two"}, {"hashtags", QJsonArray{"#a", "#b"}},
                                                     {"gridSlot", "4"}});
    const Draft oddTwoThere =
        Draft::fromJson(QJsonObject{{"id", 2}, {"title", "Two"}, {"hashtags", QJsonArray{"#c"}}, {"gridSlot", "4"}});
    const Draft sentTea = with(oddTwo, [](Draft &d) { d.hashtags = QStringLiteral("#tea"); });
    // The same draft written again there in the expected types: the same reading, not the same on the wire.
    const Draft typedTwo = Draft::fromJson(oddTwo.toTypedJson());
    const Draft two7edited = with(two7, [](Draft &d) { d.title = QStringLiteral("Twin two EDITED"); });
    const auto said = [](const char *title) {
        return QStringLiteral("Also changed on another device: %1. Where both changed the same thing, your change here "
                              "was kept and the other device's was replaced.")
            .arg(QString::fromUtf8(title));
    };
    // Four drafts, the first with a long title: as read, as changed here, as changed there.
    QList<Draft> four[3];
    const char *const captions[] = {"", "here", "there"};
    for (qint64 id = 1; id <= 4; ++id) {
        for (int side = 0; side < 3; ++side) {
            Draft d = id == 1 ? titled(1, QByteArray(100, 'x').constData()) : draft(id);
            d.caption = QString::fromUtf8(captions[side]);
            four[side] << d;
        }
    }
    struct Case {
        const char *name;
        QList<Draft> base, sent, ours, server, merged;
        std::optional<QString> notice;
    };
    const Case cases[] = {
        {"hidden here, its caption changed there: one draft with both",
         {two}, {}, {with(two, [](Draft &d) { d.hiddenFromGrid = true; })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("there"); })},
         {with(two, [](Draft &d) { d.hiddenFromGrid = true; d.caption = QStringLiteral("there"); })}, std::nullopt},
        {"the caption changed on both sides: the one written here, one draft, said",
         {two}, {}, {with(two, [](Draft &d) { d.caption = QStringLiteral("here"); })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("there"); d.format = QStringLiteral("reel"); })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("here"); d.format = QStringLiteral("reel"); })}, said("Two")},
        {"a video attached here, a poster changed there: the media go together",
         {with(two, [](Draft &d) { d.mediaId = QStringLiteral("m1"); d.posterMediaId = QStringLiteral("p1"); })}, {},
         {with(two, [](Draft &d) { d.mediaId = QStringLiteral("m2"); d.posterMediaId = QStringLiteral("p2"); })},
         {with(two, [](Draft &d) { d.mediaId = QStringLiteral("m1"); d.posterMediaId = QStringLiteral("p9"); })},
         {with(two, [](Draft &d) { d.mediaId = QStringLiteral("m2"); d.posterMediaId = QStringLiteral("p2"); })}, said("Two")},
        {"a field as last sent is ours, not a change there, also when changed here again",
         {two}, {with(two, [](Draft &d) { d.caption = QStringLiteral("sent"); })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("sent, then more"); d.hiddenFromGrid = true; })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("sent"); d.title = QStringLiteral("Two, there"); })},
         {with(two, [](Draft &d) {
             d.caption = QStringLiteral("sent, then more");
             d.title = QStringLiteral("Two, there");
             d.hiddenFromGrid = true;
         })},
         std::nullopt},
        {"deleted here while another client changed a member of it: it stays",
         {titled(1, "One"), with(two, [](Draft &d) { d.others.insert(QStringLiteral("notes"), QStringLiteral("before")); })},
         {}, {titled(1, "One, renamed")},
         {titled(1, "One"), with(two, [](Draft &d) { d.others.insert(QStringLiteral("notes"), QStringLiteral("after")); })},
         {titled(1, "One, renamed"),
          with(two, [](Draft &d) { d.others.insert(QStringLiteral("notes"), QStringLiteral("after")); })},
         QStringLiteral("Deleted here but changed on another device meanwhile, so it was kept: Two.")},
        {"four drafts changed on both sides: three named, the long title cut short", four[0], {}, four[1], four[2],
         four[1], said(QByteArray(QByteArray(80, 'x') + "…, Draft 2, Draft 3, and …").constData())},
        {"three drafts changed on both sides: all three named, nothing more", four[0].first(3), {}, four[1].first(3),
         four[2].first(3), four[1].first(3), said(QByteArray(QByteArray(80, 'x') + "…, Draft 2, and Draft 3").constData())},
        {"the same caption written on both sides, hidden here: one draft, no conflict to tell",
         {two}, {}, {with(two, [](Draft &d) { d.caption = QStringLiteral("same"); d.hiddenFromGrid = true; })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("same"); })},
         {with(two, [](Draft &d) { d.caption = QStringLiteral("same"); d.hiddenFromGrid = true; })}, std::nullopt},
        {"a member another client removed while the title changed here: it stays removed",
         {with(two, [](Draft &d) { d.others.insert(QStringLiteral("notes"), QStringLiteral("old")); })}, {},
         {with(two, [](Draft &d) {
             d.title = QStringLiteral("Two, here");
             d.others.insert(QStringLiteral("notes"), QStringLiteral("old"));
         })},
         {two}, {with(two, [](Draft &d) { d.title = QStringLiteral("Two, here"); })}, std::nullopt},
        {"twins: the first deleted there, the second edited here", {one7, two7}, {}, {one7, two7edited}, {two7},
         {two7edited}, std::nullopt},
        {"twins: the first deleted there and the second's caption changed there, its title here", {one7, two7}, {},
         {one7, two7edited}, {with(two7, [](Draft &d) { d.caption = QStringLiteral("second words, there"); })},
         {with(two7edited, [](Draft &d) { d.caption = QStringLiteral("second words, there"); })}, std::nullopt},
        {"twins: the first's hashtags changed here; the first deleted there, the second's title and caption changed "
         "there: known by their texts", {one7, two7}, {}, {with(one7, [](Draft &d) { d.hashtags = QStringLiteral("#here"); }), two7},
         {with(two7, [](Draft &d) { d.title += QStringLiteral(", there"); d.caption += QStringLiteral(", there"); })},
         {with(two7, [](Draft &d) { d.title += QStringLiteral(", there"); d.caption += QStringLiteral(", there"); }),
          with(one7, [](Draft &d) { d.hashtags = QStringLiteral("#here"); })},
         QStringLiteral("Deleted on another device but changed here, so it was kept: Twin one.")},
        {"another client's list of hashtags and place as text stay as it wrote them beside a caption changed here",
         {oddTwo}, {}, {with(oddTwo, [](Draft &d) { d.caption = QStringLiteral("here"); })}, {oddTwo},
         {with(oddTwo, [](Draft &d) { d.caption = QStringLiteral("here"); })}, std::nullopt},
        {"its hashtags rewritten there as another list, its place changed here: each side's, in its own type",
         {oddTwo}, {}, {with(oddTwo, [](Draft &d) { d.gridSlot = 1; })}, {oddTwoThere},
         {with(oddTwoThere, [](Draft &d) { d.gridSlot = 1; })}, std::nullopt},
        {"its hashtags and place written again there in the expected types: theirs, beside a caption changed here",
         {oddTwo}, {}, {with(oddTwo, [](Draft &d) { d.caption = QStringLiteral("here"); })}, {typedTwo},
         {with(typedTwo, [](Draft &d) { d.caption = QStringLiteral("here"); })}, std::nullopt},
        {"its hashtags changed here and sent, the service holding them as sent: ours, not a change there",
         {oddTwo}, {sentTea}, {with(sentTea, [](Draft &d) { d.caption = QStringLiteral("more"); })},
         {Draft::fromJson(sentTea.toJson())}, {with(sentTea, [](Draft &d) { d.caption = QStringLiteral("more"); })},
         std::nullopt},
        {"twins: the first deleted here, the second's caption changed there", {one7, two7}, {}, {two7},
         {one7, with(two7, [](Draft &d) { d.caption = QStringLiteral("there"); })},
         {with(two7, [](Draft &d) { d.caption = QStringLiteral("there"); })}, std::nullopt},
        // A move there numbers every tile anew: a new number alone is no change to the draft deleted here.
        {"deleted here while another device moved two other tiles: it stays deleted",
         {titled(1, "One"), two, titled(3, "Three")}, {}, {titled(1, "One"), two},
         {slotted(titled(1, "One"), 1), slotted(two, 0), slotted(titled(3, "Three"), 2)},
         {slotted(titled(1, "One"), 1), slotted(two, 0)}, std::nullopt},
        {"deleted here while another device moved that draft: it stays, said",
         {titled(1, "One"), two, titled(3, "Three")}, {}, {titled(1, "One, renamed"), two},
         {slotted(titled(1, "One"), 0), slotted(two, 2), slotted(titled(3, "Three"), 1)},
         {slotted(titled(1, "One, renamed"), 0), slotted(two, 2), slotted(titled(3, "Three"), 1)},
         QStringLiteral("Deleted here but changed on another device meanwhile, so it was kept: Three.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        UnsavedPlanStore::Kept kept{c.ours, c.base, false};
        if (!c.sent.isEmpty())
            kept.sent = c.sent;
        UnsavedPlanStore(f.h.store).save(QStringLiteral("kitty@example.com"), kept);
        startKitty(f, c.server);
        ASSERT_TRUE(zktest::spinUntil([&] { return !f.service.savedPlans.isEmpty() && !f.model().planSaving(); }));
        EXPECT_EQ(titles(f.service.savedPlans.last()), titles(c.merged));
        EXPECT_EQ(f.service.savedPlans.last(), c.merged);
        EXPECT_EQ(f.model().planDrafts(), c.merged);
        for (qsizetype i = 0; i < c.merged.size() && i < f.service.savedPlans.last().size(); ++i)
            EXPECT_EQ(f.service.savedPlans.last()[i].toJson(), c.merged[i].toJson()) << "as the service gets it";
        // A plan kept from before is said at the start; a change replaced there is said instead.
        EXPECT_EQ(f.model().notice() ? f.model().notice()->text : QString(),
                  c.notice.value_or(QStringLiteral("Plan changes are kept here but not saved yet.")));
    }

}

// Another client wrote a draft with its own types, and one whose id is no
// whole number. The user only adds a draft: the first goes back exactly as it
// was written (until a field of it is changed here), the second as it came,
// where it stood, and the user hears once which draft cannot be edited here.
TEST(PlanDrafts, AnotherClientsValuesGoBackAsItWroteThemAndADraftThatCannotBeReadBlocksNoSave)
{
    const QJsonObject phone{{"id", 5},
                            {"title", "Phone"},
                            {"caption", ""},
                            {"format", "post"},
                            {"hashtags", QJsonArray{"#cats", "#coffee"}},
                            {"scheduledAt", qint64(1748856600000)},
                            {"hiddenFromGrid", "yes"},
                            {"gridSlot", "4"},
                            {"mediaId", 17}};
    const QJsonObject odd{{"id", 1.5}, {"title", "Odd one"}, {"caption", "by a script"}};
    const QJsonArray there = {phone, odd, titled(1, "one").toJson()};
    QList<Draft> server;
    for (const QJsonValue &item : there)
        server << Draft::fromListJson(item);
    const auto sentAsJson = [](const QList<Draft> &sent) {
        QJsonArray out;
        for (const Draft &d : sent)
            out.append(d.toListJson());
        return out;
    };
    const QString named = QStringLiteral("Written elsewhere in a form that can't be edited here: Odd one. It is kept "
                                         "as it is, and not shown in the plan.");

    Flows f;
    AppModel &m = f.model();
    QSignalSpy said(&m, &AppModel::planConflictsSaid);
    startKitty(f, server);
    // The screens have the drafts they can read, each read as well as it can be.
    ASSERT_EQ(titles(m.planDrafts()), (QStringList{"Phone", "one"}));
    const Draft &shown = m.planDrafts().first();
    EXPECT_EQ(shown.hashtags, QStringLiteral("#cats #coffee"));
    EXPECT_EQ(shown.scheduledAt, QStringLiteral("2025-06-02T09:30:00Z"));
    EXPECT_TRUE(shown.hiddenFromGrid);
    EXPECT_EQ(shown.gridSlot, 4);
    EXPECT_EQ(shown.mediaId, QStringLiteral("17"));
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text, named);
    EXPECT_EQ(said.count(), 1);

    m.setPlanDrafts(m.planDrafts() + QList{titled(7, "Kitchen window")});
    finish(m.savePlan(), "the new draft's save");
    ASSERT_EQ(f.service.count("savePlanDrafts"), 1) << "the draft that cannot be read blocks no save";
    EXPECT_EQ(sentAsJson(f.service.savedPlans.last()), QJsonArray(there) << titled(7, "Kitchen window").toJson());
    EXPECT_FALSE(m.planUnsaved());
    finish(m.savePlan(), "a save again");
    EXPECT_EQ(said.count(), 1) << "named once a run, not at every save";

    // A field changed here goes in its own type; the rest as the other client wrote it.
    QList<Draft> edited = m.planDrafts();
    edited[0].hashtags = QStringLiteral("#tea");
    m.setPlanDrafts(edited);
    finish(m.savePlan(), "the hashtags' save");
    QJsonObject retagged = phone;
    retagged.insert("hashtags", "#tea");
    EXPECT_EQ(sentAsJson(f.service.savedPlans.last()).first(), retagged);
    EXPECT_EQ(sentAsJson(f.service.savedPlans.last()).at(1), odd);

    // Kept on this computer through a restart as it was written: the caption
    // changed here while the service cannot be reached, then started again.
    const QList<Draft> held = f.service.savedPlans.last();
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    edited = m.planDrafts();
    edited[0].caption = QStringLiteral("Written offline");
    m.setPlanDrafts(edited);
    finish(m.savePlan(), "the save that fails");
    ASSERT_TRUE(m.planUnsaved());
    f.service.failures.clear();
    Flows g;
    RecordStore::of(g.h.store).write(QLatin1String(UnsavedPlanStore::kRecordName), QStringLiteral("kitty@example.com"),
                                     *RecordStore::of(f.h.store).read(QLatin1String(UnsavedPlanStore::kRecordName),
                                                                      QStringLiteral("kitty@example.com")));
    QSignalSpy saidAgain(&g.model(), &AppModel::planConflictsSaid);
    startKitty(g, held);
    ASSERT_TRUE(zktest::spinUntil([&] { return !g.service.savedPlans.isEmpty() && !g.model().planSaving(); }));
    retagged.insert("caption", "Written offline");
    EXPECT_EQ(sentAsJson(g.service.savedPlans.last()).first(), retagged);
    EXPECT_EQ(sentAsJson(g.service.savedPlans.last()).at(1), odd);
    EXPECT_EQ(saidAgain.count(), 1) << "a new run names it again";
    EXPECT_EQ(g.model().notice() ? g.model().notice()->text : QString(), named) << "beside a kept plan too";

    // An editor's kept work keeps them too, and reads as before without them.
    KeptDraftEdit typed;
    typed.draft = typed.shown = g.model().planDrafts().first();
    typed.draft.title = QStringLiteral("Phone, typed");
    typed.date = QDateTime::fromMSecsSinceEpoch(1748856600000);
    const QList<KeptDraftEdit> back =
        DraftEditStore::decode(DraftEditStore::encode(QStringLiteral("kitty@example.com"), {typed}),
                               QStringLiteral("kitty@example.com"));
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back.first(), typed);
    EXPECT_EQ(back.first().draft.toJson().value("gridSlot"), QJsonValue("4"));
    QJsonObject older = QJsonDocument::fromJson(DraftEditStore::encode(QStringLiteral("kitty@example.com"), {typed}))
                            .object();
    QJsonObject olderEdit = older.value("edits").toArray().first().toObject();
    olderEdit.remove("asWritten");
    older.insert("edits", QJsonArray{olderEdit});
    const QList<KeptDraftEdit> olderBack = DraftEditStore::decode(QJsonDocument(older).toJson(),
                                                                   QStringLiteral("kitty@example.com"));
    ASSERT_EQ(olderBack.size(), 1);
    EXPECT_EQ(olderBack.first().draft.toJson().value("gridSlot"), QJsonValue(4));
}

// Nothing but the merge stands between the save's read and its write: the
// screens, the record and the user hear of what was read once the write has
// gone out (a change another device saves in that moment would be lost).
TEST(PlanDrafts, TheWriteGoesOutBeforeTheScreensTheRecordAndTheNoticesHearOfTheRead)
{
    Flows f;
    startKitty(f, {titled(1, "one")});
    AppModel &m = f.model();
    Draft there = titled(1, "one");
    there.caption = QStringLiteral("Written on the phone");
    f.service.results["planDrafts"] = QList{there, titled(9, "Phone draft")};
    Draft here = titled(1, "one");
    here.caption = QStringLiteral("Written here");
    m.setPlanDrafts({here});

    const auto record = [&] {
        return RecordStore::of(f.h.store).read(QLatin1String(UnsavedPlanStore::kRecordName),
                                               QStringLiteral("kitty@example.com"));
    };
    QStringList steps;
    std::optional<QByteArray> recordAtRead, recordAtWrite;
    f.service.onStep = [&](const QString &step) {
        steps << step;
        (step == QLatin1String("the read answered") ? recordAtRead : recordAtWrite) = record();
    };
    QObject observer;
    QObject::connect(&m, &AppModel::planDraftsChanged, &observer, [&] { steps << QStringLiteral("the plan's screens"); });
    QObject::connect(&m, &AppModel::noticeChanged, &observer, [&] { steps << QStringLiteral("a notice"); });
    QObject::connect(&m, &AppModel::planConflictsSaid, &observer, [&] { steps << QStringLiteral("the conflict said"); });
    QObject::connect(&m, &AppModel::observationsChanged, &observer, [&] { steps << QStringLiteral("the summary cards"); });
    f.service.held << QStringLiteral("savePlanDrafts");
    QCoro::Task<> saving = m.savePlan();
    ASSERT_TRUE(zktest::spinUntil([&] { return steps.contains(QStringLiteral("the conflict said")); }));
    ASSERT_GE(steps.size(), 2);
    EXPECT_EQ(steps.mid(0, 2), (QStringList{"the read answered", "the write went out"})) << steps.join(", ").toStdString();
    EXPECT_TRUE(steps.contains(QStringLiteral("the plan's screens")));
    EXPECT_EQ(recordAtWrite, recordAtRead) << "no record written between the read and the write";
    // Written once it went, with what went: an answer that never comes leaves it sent.
    const auto kept = UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com"));
    ASSERT_TRUE(kept && kept->sent);
    EXPECT_EQ(*kept->sent, f.service.savedPlans.last());
    EXPECT_EQ(m.planDrafts(), f.service.savedPlans.last());
    f.service.release("savePlanDrafts");
    finish(std::move(saving), "the save");
    EXPECT_FALSE(m.planUnsaved());
}

// One failed save; the user hides "Two" from the grid; within 5 s another
// device changes Two's caption; the retry leaves one "Two", hidden, with the
// new caption.
TEST(PlanDrafts, AHideWaitingForItsRetryAndACaptionChangedThereMakeOneDraft)
{
    Flows f;
    startKitty(f, {titled(1, "One"), titled(2, "Two")});
    AppModel &m = f.model();
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(APIError::serverRefused(500));
    finish(m.setDraftHidden(2, true), "the hiding's failed save");
    ASSERT_TRUE(m.planUnsaved());
    Draft captioned = titled(2, "Two");
    captioned.caption = QStringLiteral("Caption from the phone");
    f.service.results["planDrafts"] = QList<Draft>{titled(1, "One"), captioned};
    f.service.failures.clear();
    f.h.clock.advance(std::chrono::seconds(5));
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving(); }));
    captioned.hiddenFromGrid = true;
    EXPECT_EQ(f.service.savedPlans.last(), (QList<Draft>{titled(1, "One"), captioned}));
    EXPECT_EQ(m.planDrafts(), f.service.savedPlans.last());
}

TEST(PlanDrafts, AKeptPlanIsShownWhenTheServicesListCannotBeReadAndAnEditThenLosesNothing)
{
    const QList<Draft> base = {titled(1, "one"), titled(2, "two")};
    const QList<Draft> ours = {titled(1, "edited here"), titled(2, "two")};
    Flows f;
    UnsavedPlanStore(f.h.store).save(QStringLiteral("kitty@example.com"), {ours, base, false});
    f.service.failures["planDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    startKitty(f, {});
    AppModel &m = f.model();
    EXPECT_EQ(m.planDrafts(), ours) << "the kept plan, shown";
    EXPECT_TRUE(m.planUnsaved());
    EXPECT_FALSE(m.planLoading());

    // An edit while the list still cannot be read keeps the kept drafts.
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    m.setPlanDrafts(ours + QList<Draft>{titled(3, "added offline")});
    finish(m.savePlan(), "the save while offline");
    const auto kept = UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->drafts.size(), 3);
    EXPECT_EQ(kept->base, base);
    EXPECT_EQ(f.service.count("savePlanDrafts"), 0) << "nothing written over a list never read";

    // The service answers again, holding a draft written elsewhere meanwhile: it stays.
    f.service.failures.clear();
    f.service.results["planDrafts"] = base + QList<Draft>{titled(4, "written elsewhere")};
    f.h.clock.advance(AppModel::kPlanRetryLongest);
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving(); }));
    EXPECT_EQ(f.service.savedPlans.last(), (QList<Draft>{titled(1, "edited here"), titled(2, "two"),
                                                         titled(4, "written elsewhere"), titled(3, "added offline")}));
    EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt);
}

TEST(PlanDrafts, ARefusedSaveIsSaidOnceAndWaitsForTheUsersNextChange)
{
    Flows f;
    startKitty(f, {draft(1)});
    AppModel &m = f.model();
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(APIError::serverRefused(422));
    m.setPlanDrafts({titled(1, "too long a title")});
    finish(m.savePlan(), "the refused save");
    ASSERT_TRUE(m.notice());
    EXPECT_TRUE(m.notice()->text.endsWith(QStringLiteral("Plan changes are kept here but not saved yet.")));
    EXPECT_TRUE(m.planUnsaved());
    const auto kept = UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com"));
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->refused);
    EXPECT_EQ(kept->base, QList<Draft>{draft(1)});
    // Neither time nor the service's next answer sends the same list again.
    f.h.clock.advance(AppModel::kPlanRetryLongest * 2);
    finish(m.loadThreads(), "a call that succeeds");
    EXPECT_EQ(f.service.count("savePlanDrafts"), 1);

    // A restart: shown unsaved, neither sent nor said again.
    f.h.make(&f.service);
    startKitty(f, {draft(1)});
    EXPECT_EQ(f.model().planDrafts(), QList<Draft>{titled(1, "too long a title")});
    EXPECT_TRUE(f.model().planUnsaved());
    EXPECT_EQ(f.model().notice(), std::nullopt);
    EXPECT_EQ(f.service.count("savePlanDrafts"), 1);

    // The user's next change goes, and is taken.
    f.service.failures.remove("savePlanDrafts");
    f.model().setPlanDrafts({titled(1, "short")});
    finish(f.model().savePlan(), "the next save");
    EXPECT_FALSE(f.model().planUnsaved());
    EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt);
}

TEST(PlanDrafts, AnUnsavedPlanGoesAgainWhenTheServiceAnswersAgain)
{
    Flows f;
    startKitty(f, {draft(1)});
    AppModel &m = f.model();
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    m.setPlanDrafts({titled(1, "offline edit")});
    finish(m.savePlan(), "the failed save");
    ASSERT_TRUE(m.planUnsaved());
    // Waits of 5, 10, 20 … seconds, up to five minutes.
    const int expected[] = {5, 10, 20, 40, 80, 160, 300, 300};
    for (int seconds : expected) {
        const int before = f.service.count("savePlanDrafts");
        f.h.clock.advance(std::chrono::seconds(seconds) - std::chrono::milliseconds(1));
        EXPECT_EQ(f.service.count("savePlanDrafts"), before) << seconds;
        f.h.clock.advance(std::chrono::milliseconds(1));
        ASSERT_TRUE(zktest::spinUntil([&] { return f.service.count("savePlanDrafts") == before + 1 && !m.planSaving(); }))
            << seconds;
    }
    EXPECT_TRUE(m.planUnsaved());
    // The service answers another call (a question to the cat): the plan goes at once, and is taken.
    f.service.failures.remove("savePlanDrafts");
    finish(m.ask(QStringLiteral("are you there?")), "a call that succeeds");
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving(); }));
    EXPECT_EQ(f.service.savedPlans.last(), QList<Draft>{titled(1, "offline edit")});
    const int sent = f.service.count("savePlanDrafts");
    f.h.clock.advance(AppModel::kPlanRetryLongest * 2);
    EXPECT_EQ(f.service.count("savePlanDrafts"), sent) << "nothing left to send";
}

TEST(PlanDrafts, BackInTouchWithTheServiceItsChangesMeanwhileStayBesideTheEditsMadeHere)
{
    const QList<Draft> loaded = {titled(1, "one"), titled(2, "two"), titled(3, "three"), titled(4, "four")};
    // Meanwhile, on another device: the second draft edited, the third deleted, a fifth added.
    const QList<Draft> there = {titled(1, "one"), titled(2, "two, edited there"), titled(4, "four"),
                                titled(5, "added there")};
    const auto offline = [](Flows &f) {
        for (const char *call : {"planDrafts", "savePlanDrafts", "instagramFeed"})
            f.service.failures[call] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    };
    const auto editOffline = [](Flows &f) {
        QList<Draft> edited = f.model().planDrafts();
        edited[0].title = QStringLiteral("one, edited offline");
        f.model().setPlanDrafts(edited);
        finish(f.model().savePlan(), "the save offline");
        ASSERT_TRUE(f.model().planUnsaved());
    };
    const auto editAgain = [](Flows &f) {
        f.model().setPlanDrafts(f.model().planDrafts() + QList<Draft>{titled(6, "added back online")});
        finish(f.model().savePlan(), "the edit's save");
    };
    const QList<Draft> merged = {titled(1, "one, edited offline"), titled(2, "two, edited there"), titled(4, "four"),
                                 titled(5, "added there")};
    struct Case {
        const char *name;
        std::function<void(Flows &)> offlineSpell;
        std::function<void(Flows &)> backOnline;
        QList<Draft> sent;
    };
    const Case cases[] = {
        {"the plan shown again: its load meets the edits", editOffline,
         [](Flows &f) { finish(f.model().loadPlan(), "the plan's load"); }, merged},
        {"the save tried again by itself", editOffline,
         [](Flows &f) { f.h.clock.advance(AppModel::kPlanRetryLongest); }, merged},
        {"an edit here before the first save", editOffline, editAgain,
         merged + QList<Draft>{titled(6, "added back online")}},
        {"no plan edit offline, but the grid's feed failed to load: an edit here after",
         [](Flows &f) { finish(f.model().loadFeed(true), "the feed's load"); }, editAgain,
         there + QList<Draft>{titled(6, "added back online")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        startKitty(f, loaded);
        AppModel &m = f.model();
        const int savesBefore = f.service.count("savePlanDrafts");
        offline(f);
        ASSERT_NO_FATAL_FAILURE(c.offlineSpell(f));
        f.service.results["planDrafts"] = there;
        f.service.failures.clear();
        c.backOnline(f);
        ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving() && !m.planLoading(); }));
        ASSERT_GT(f.service.count("savePlanDrafts"), savesBefore);
        EXPECT_EQ(titles(f.service.savedPlans.last()), titles(c.sent));
        EXPECT_EQ(f.service.savedPlans.last(), c.sent);
        EXPECT_EQ(m.planDrafts(), c.sent);
        EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt);
    }

    // A save the service took, its answer lost on the way back (or the
    // application ended before it came), then the same draft edited again: the
    // service holds our first edit, not a change of its own, also beside a
    // change made there since, and also when the application starts again (or
    // the account signs in again) before it has read the service's list.
    enum class Lost { inThisRun, thenEditedAndEnded, thenEditedAndSignedOut, byTheEnd };
    const auto offlineCalls = [](Flows &f) {
        for (const char *call : {"planDrafts", "savePlanDrafts"})
            f.service.failures[call] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    };
    for (const Lost lost : {Lost::inThisRun, Lost::thenEditedAndEnded, Lost::thenEditedAndSignedOut, Lost::byTheEnd}) {
        for (const QList<Draft> &elsewhere : {QList<Draft>{}, QList<Draft>{titled(2, "added there since")}}) {
            SCOPED_TRACE(testing::Message() << "lost " << int(lost) << ", " << elsewhere.size() << " added there");
            Flows f;
            startKitty(f, {titled(1, "one")});
            const QList<Draft> there = QList<Draft>{titled(1, "edited once")} + elsewhere;
            if (lost == Lost::byTheEnd) {
                // The application ends with the save on its way; started again
                // offline, the kept plan is edited.
                f.service.held << QStringLiteral("savePlanDrafts");
                f.model().setPlanDrafts({titled(1, "edited once")});
                auto saving = f.model().savePlan();
                ASSERT_EQ(f.service.waiting("savePlanDrafts"), 1);
                f.h.make(&f.service);
                f.service.held.clear();
                f.service.release("savePlanDrafts");
                offlineCalls(f);
                startKitty(f, there);
                ASSERT_EQ(f.model().planDrafts(), QList<Draft>{titled(1, "edited once")}) << "the kept plan, shown";
                f.model().setPlanDrafts({titled(1, "edited twice")});
                finish(f.model().savePlan(), "the save offline");
                f.service.failures.clear();
                f.h.clock.advance(AppModel::kPlanRetryLongest);
            } else {
                f.service.failures["savePlanDrafts"] =
                    std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
                f.model().setPlanDrafts({titled(1, "edited once")});
                finish(f.model().savePlan(), "the save whose answer was lost");
                f.service.failures.clear();
                f.service.results["planDrafts"] = there;
                if (lost != Lost::inThisRun)
                    offlineCalls(f);
                f.model().setPlanDrafts({titled(1, "edited twice")});
                finish(f.model().savePlan(), "the next save");
                if (lost == Lost::thenEditedAndEnded) {
                    f.h.make(&f.service);
                    f.service.failures.clear();
                    startKitty(f, there);
                } else if (lost == Lost::thenEditedAndSignedOut) {
                    finish(f.model().signOut());
                    f.service.failures.clear();
                    finish(f.model().finishSignIn(), "the same account's sign-in");
                }
            }
            AppModel &m = f.model();
            ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving() && !m.planLoading(); }));
            EXPECT_EQ(titles(f.service.savedPlans.last()), QStringList{"edited twice"} + titles(elsewhere))
                << "one draft, not two";
            EXPECT_EQ(titles(m.planDrafts()), QStringList{"edited twice"} + titles(elsewhere));
            EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt);
        }
    }
}

// A draft added here is sent, the service takes it, and its answer is lost;
// before the connection is back another device deletes that draft and changes
// another one's caption. The next write here leaves it deleted: the service
// held it as sent, so its absence is the other device's deletion, also after a
// restart. Changed here since it was sent, it is kept, and the user hears why.
// A write that surely never reached the service (refused, its connection
// never opened, or the list never left whole) proves nothing was deleted
// there: the draft goes again.
TEST(PlanDrafts, ADraftSentWithoutAnAnswerAndDeletedThereStaysDeleted)
{
    const Draft kitchen = titled(3, "Kitchen window");
    Draft phoneCaption = titled(2, "Two");
    phoneCaption.caption = QStringLiteral("written on the phone");
    // The other device's list: the added draft deleted, the second's caption changed.
    const QList<Draft> there = {titled(1, "One"), phoneCaption};
    Draft kitchenEdited = kitchen;
    kitchenEdited.caption = QStringLiteral("morning light");
    Draft oneCaptioned = titled(1, "One");
    oneCaptioned.caption = QStringLiteral("written while the write was out");
    enum class Then { backInThisRun, restarted, endedMidWrite, editedHereFirst };
    struct Case {
        const char *name;
        std::exception_ptr failure;
        Then then;
        QList<Draft> plan;
        QString notice = QString();
        // The list never leaves whole: nothing is told it went out.
        bool stays = false;
    };
    const auto lost = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    const Case cases[] = {
        {"its answer lost, back on line in the same run", lost, Then::backInThisRun, there},
        {"its answer timed out, the application started again", std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut)),
         Then::restarted, there},
        {"the application ended with the write on its way and a caption written meanwhile", nullptr,
         Then::endedMidWrite, {oneCaptioned, phoneCaption}},
        {"the application ended before its write went out, a caption written meanwhile: it goes again", nullptr,
         Then::endedMidWrite, {oneCaptioned, phoneCaption, kitchen}, QString(), true},
        {"its connection lost before all of it left: it goes again", lost, Then::backInThisRun,
         there + QList<Draft>{kitchen}, QString(), true},
        {"its answer lost, then its caption written here", lost, Then::editedHereFirst, there + QList<Draft>{kitchenEdited},
         QStringLiteral("Deleted on another device but changed here, so it was kept: Kitchen window.")},
        {"its connection never opened: it goes again",
         std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)), Then::backInThisRun,
         there + QList<Draft>{kitchen}},
        {"its time ran out waiting for a network, none of it sent: it goes again",
         std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut, QNetworkReply::HostNotFoundError, false)),
         Then::restarted, there + QList<Draft>{kitchen}},
        {"refused by a failing server: it goes again", std::make_exception_ptr(APIError::serverRefused(503)),
         Then::restarted, there + QList<Draft>{kitchen}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        startKitty(f, {titled(1, "One"), titled(2, "Two")});
        f.model().setPlanDrafts(f.model().planDrafts() + QList<Draft>{kitchen});
        if (c.then == Then::endedMidWrite) {
            f.service.held << QStringLiteral("savePlanDrafts");
            f.service.plansStay = c.stays;
            auto saving = f.model().savePlan();
            ASSERT_EQ(f.service.waiting("savePlanDrafts"), 1);
            if (!c.stays) {
                // Gone out: from then on the kept record names the list as sent.
                ASSERT_TRUE(zktest::spinUntil([&] {
                    const auto kept = UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com"));
                    return kept && kept->sent;
                }));
            }
            f.model().setPlanDrafts({oneCaptioned, titled(2, "Two"), kitchen});
            auto joining = f.model().savePlan();
            f.h.make(&f.service);
            f.service.plansStay = false;
            f.service.held.clear();
            f.service.release("savePlanDrafts");
        } else {
            f.service.failures["savePlanDrafts"] = c.failure;
            f.service.plansStay = c.stays;
            finish(f.model().savePlan(), "the write whose answer never came");
            ASSERT_TRUE(f.model().planUnsaved());
            f.service.failures.clear();
            f.service.plansStay = false;
        }
        f.service.results["planDrafts"] = there;
        if (c.then == Then::editedHereFirst) {
            f.model().setPlanDrafts({titled(1, "One"), titled(2, "Two"), kitchenEdited});
            finish(f.model().savePlan(), "the edit's write");
        } else if (c.then == Then::backInThisRun) {
            f.h.clock.advance(AppModel::kPlanRetryLongest);
        } else {
            f.h.make(&f.service);
            startKitty(f, there);
        }
        AppModel &m = f.model();
        ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving() && !m.planLoading(); }));
        EXPECT_EQ(titles(m.planDrafts()), titles(c.plan));
        EXPECT_EQ(m.planDrafts(), c.plan);
        EXPECT_EQ(std::any_cast<QList<Draft>>(f.service.results["planDrafts"]), c.plan) << "what the service holds";
        if (!c.notice.isEmpty()) {
            EXPECT_EQ(m.notice() ? m.notice()->text : QString(), c.notice);
        }
        EXPECT_EQ(UnsavedPlanStore(f.h.store).load(QStringLiteral("kitty@example.com")), std::nullopt);
    }
}

// Words typed into "Studio tour"'s caption, kept as typed, and the
// application killed before "Save draft"; meanwhile another device deleted
// "Studio tour". Started again, the plan holds it again with those words,
// the service too, and the user is told. Still on the service, it is left to
// its editor to offer them, until a later read finds it deleted there; words
// that change nothing, or a new draft's, bring nothing back.
TEST(PlanDrafts, WordsAnEditorKeptBeforeAKillBringBackTheDraftDeletedThereSince)
{
    const QString kitty = QStringLiteral("kitty@example.com");
    const Draft morning = titled(1, "Morning light"), studio = titled(2, "Studio tour");
    Draft typed = studio;
    typed.caption = QStringLiteral("Behind the easel");
    const auto keptFor = [&](const Draft &shown, const Draft &draft, bool isNew = false) {
        KeptDraftEdit edit;
        edit.draft = draft;
        edit.shown = shown;
        edit.isNew = isNew;
        edit.date = QDateTime::fromMSecsSinceEpoch(1767222000000);
        return edit;
    };
    struct Case {
        const char *name;
        KeptDraftEdit kept;
        QList<Draft> server;
        QList<Draft> plan;
        QString notice = QString();
        bool stillKept = false;
        // Once another device has deleted it (again), read later in the same run.
        QList<Draft> later = {};
    };
    const Case cases[] = {
        {"deleted there: back, with the words, and said", keptFor(studio, typed), {morning}, {morning, typed},
         QStringLiteral("Deleted on another device but changed here, so it was kept: Studio tour."), false, {morning}},
        {"still there: its editor offers them", keptFor(studio, typed), {morning, studio}, {morning, studio}, QString(),
         true, {morning, typed}},
        {"typed back to what it held: nothing comes back", keptFor(studio, studio), {morning}, {morning}, QString(),
         false, {morning}},
        {"a new draft's words wait for the next new draft", keptFor(typed, typed, true), {morning}, {morning}, QString(),
         true, {morning}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        DraftEditStore edits(RecordStore::of(f.h.store));
        edits.save(kitty, c.kept);
        startKitty(f, c.server);
        AppModel &m = f.model();
        ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving() && !m.planLoading(); }));
        EXPECT_EQ(titles(m.planDrafts()), titles(c.plan));
        EXPECT_EQ(m.planDrafts(), c.plan);
        EXPECT_EQ(std::any_cast<QList<Draft>>(f.service.results["planDrafts"]), c.plan) << "what the service holds";
        EXPECT_EQ(f.service.count("savePlanDrafts"), c.plan == c.server ? 0 : 1);
        EXPECT_EQ(m.notice() ? m.notice()->text : QString(), c.notice);
        EXPECT_EQ(edits.load(kitty), c.stillKept ? QList{c.kept} : QList<KeptDraftEdit>());
        // Brought back once; words still kept, when a later read finds their draft gone.
        f.service.results["planDrafts"] = QList<Draft>{morning};
        finish(m.loadPlan(), "a later read");
        ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving(); }));
        EXPECT_EQ(titles(m.planDrafts()), titles(c.later));
        EXPECT_EQ(m.planDrafts(), c.later);
    }
}

TEST(PlanDrafts, AKeptPlanThatCannotBeReadCountsAsAbsentAndTheLoadsGoOn)
{
    const QByteArray good = R"({"id":1,"title":"kept","caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false})";
    const QByteArray records[] = {
        R"({"owner":"kitty@example.com","drafts":[{"id":1.5,"title":"a","caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false}]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(,{"id":2,"title":7,"caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false}]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(,{"id":2}]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"base":[{"id":"1"}]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"refused":"yes"})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"sent":[{"id":1}]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"sent":null})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"asWritten":{"drafts":{"3":{"hashtags":[]}}}})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"asWritten":{"drafts":{"0":{"id":3}}}})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"asWritten":{"drafts":{"0":[]}}})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"asWritten":[]})",
        R"({"owner":"kitty@example.com","drafts":[)" + good + R"(,{"id":1e300,"title":"","caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false}]})",
        R"({"owner":"kitty@example.com","drafts":{}})",
        R"({"drafts":[)" + good + "]}",
        "[]",
        "not json at all",
        QByteArray("\0\xff", 2),
    };
    for (const QByteArray &record : records) {
        SCOPED_TRACE(record.constData());
        Flows f;
        RecordStore::of(f.h.store).write(QLatin1String(UnsavedPlanStore::kRecordName), QStringLiteral("kitty@example.com"),
                                         record);
        startKitty(f, {draft(7)});
        EXPECT_FALSE(f.model().planLoading());
        EXPECT_EQ(ids(f.model().planDrafts()), QList<qint64>{7});
        EXPECT_FALSE(f.model().planUnsaved());
        EXPECT_EQ(f.service.count("savePlanDrafts"), 0);
        EXPECT_EQ(f.service.count("assistantThreadStore"), 1) << "the loads after the plan still run";
        EXPECT_EQ(f.service.count("instagramFeed"), 1);
    }
    // The same record whole is restored; an id beyond a double's exact range
    // and members another client wrote go out exactly as they were kept.
    const QByteArray far =
        R"({"id":1844674407370955161,"title":"far","caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false,"notes":{"by":"the web"}})";
    Flows f;
    RecordStore::of(f.h.store).write(QLatin1String(UnsavedPlanStore::kRecordName), QStringLiteral("kitty@example.com"),
                                     R"({"owner":"kitty@example.com","drafts":[)" + good + "," + far + "]}");
    startKitty(f, {draft(7)});
    ASSERT_TRUE(zktest::spinUntil([&] { return !f.service.savedPlans.isEmpty(); }));
    EXPECT_TRUE(f.service.savedPlans.last().contains(titled(1, "kept")));
    Draft farDraft = titled(1844674407370955161, "far");
    farDraft.others.insert(QStringLiteral("notes"), QJsonObject{{"by", "the web"}});
    EXPECT_TRUE(f.service.savedPlans.last().contains(farDraft));

    // With the list last sent: the service holding that draft as it was sent
    // is not a change of its own beside the one kept here.
    const auto withTitle = [&](const char *title) {
        return QByteArray(good).replace(R"("kept")", QByteArray("\"") + title + '"');
    };
    Flows g;
    RecordStore::of(g.h.store).write(QLatin1String(UnsavedPlanStore::kRecordName), QStringLiteral("kitty@example.com"),
                                     R"({"owner":"kitty@example.com","drafts":[)" + good + R"(],"base":[)" +
                                         withTitle("one") + R"(],"sent":[)" + withTitle("sent") + "]}");
    startKitty(g, {titled(1, "sent"), draft(7)});
    ASSERT_TRUE(zktest::spinUntil([&] { return !g.service.savedPlans.isEmpty() && !g.model().planSaving(); }));
    EXPECT_EQ(titles(g.service.savedPlans.last()), (QStringList{"kept", draft(7).title}));
}

TEST(PlanDrafts, EachAccountKeepsItsOwnUnsavedPlan)
{
    for (const bool onDisk : {false, true}) {
        SCOPED_TRACE(onDisk ? "records in files" : "records in memory");
        Flows f;
        if (onDisk) {
            // The records in files of their own, as the application keeps them.
            f.h.model.reset();
            delete &RecordStore::of(f.h.store);
            new RecordStore(zktest::tempDir() + QStringLiteral("/records"), &f.h.store);
            f.h.make(&f.service);
        }
        UnsavedPlanStore kept(f.h.store);
        // Saved again with the lists it held in other parts, one of them changed: each as saved last
        // (hashtags another client wrote as a list too).
        const QList<Draft> before = {Draft::fromJson(QJsonObject{{"id", 1}, {"title", "kitty's, before"},
                                                                 {"hashtags", QJsonArray{"#a"}}})},
                           after = {titled(1, "kitty's")};
        kept.save(QStringLiteral("kitty@example.com"), {before, after, false, before});
        kept.save(QStringLiteral("kitty@example.com"), {after, before, false, after});
        EXPECT_EQ(kept.load(QStringLiteral("kitty@example.com")), (UnsavedPlanStore::Kept{after, before, false, after}));
        kept.save(QStringLiteral("Kitty@Example.com"), {{titled(1, "kitty's")}, {}, false});
        kept.save(QStringLiteral("dog@example.com"), {{titled(2, "dog's")}, {}, false});
        // The dog's save is taken, at the start and after an edit: the cat's kept plan stays.
        startKitty(f, {}, QStringLiteral("dog@example.com"));
        ASSERT_TRUE(zktest::spinUntil([&] { return !f.service.savedPlans.isEmpty() && !f.model().planSaving(); }));
        EXPECT_EQ(f.service.savedPlans.last(), QList<Draft>{titled(2, "dog's")});
        f.model().setPlanDrafts({titled(2, "dog's, edited")});
        finish(f.model().savePlan(), "the dog's save");
        EXPECT_FALSE(f.model().planUnsaved());
        EXPECT_EQ(kept.load(QStringLiteral("dog@example.com")), std::nullopt);
        ASSERT_TRUE(kept.load(QStringLiteral("KITTY@example.com")));
        EXPECT_EQ(kept.load(QStringLiteral("kitty@example.com"))->drafts, QList<Draft>{titled(1, "kitty's")});

        // The cat comes back after the dog signed out: its own plan goes.
        finish(f.model().signOut());
        f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
        f.service.results["planDrafts"] = QList<Draft>{};
        finish(f.model().finishSignIn(), "the cat's sign-in");
        ASSERT_TRUE(zktest::spinUntil([&] { return !f.model().planSaving() && !f.model().planUnsaved(); }));
        EXPECT_EQ(f.service.savedPlans.last(), QList<Draft>{titled(1, "kitty's")});
        EXPECT_EQ(kept.load(QStringLiteral("kitty@example.com")), std::nullopt);
    }
}

TEST(PlanDrafts, AWriteThatFailsIsSaidOnceThePlanIsNotCalledKeptAndTheNextChangeWritesIt)
{
    zktest::PrivateMount disk(64);
    if (disk.path().isEmpty())
        GTEST_SKIP() << "this machine does not let a test mount a file system of its own";
    const QString folder = disk.path() + QStringLiteral("/zephyl-kitty");
    const QString kitty = QStringLiteral("kitty@example.com");
    Flows f;
    // The records on the small disk, beside the settings as the application keeps them.
    f.h.model.reset();
    delete &RecordStore::of(f.h.store);
    new RecordStore(folder + QStringLiteral("/records"), &f.h.store);
    f.h.make(&f.service);
    startKitty(f, {titled(1, "one")});
    AppModel &m = f.model();
    m.setAskInput(QStringLiteral("half a question"));

    // The disk fills: the first keystroke that cannot be kept is said, in words; the next ones are not.
    ASSERT_TRUE(disk.fill());
    QSignalSpy notices(&m, &AppModel::noticeChanged);
    m.setAskInput(QString(5000, u'q'));
    m.setAskInput(QString(5001, u'q'));
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text,
              QStringLiteral("The disk holding %1 is full, so changes are not kept on this computer for now.").arg(folder));
    EXPECT_EQ(m.notice()->tone, AppNotice::Tone::attention);
    EXPECT_EQ(notices.count(), 1);
    // Room again: the next keystroke is written, and the warning goes.
    ASSERT_TRUE(disk.unfill());
    m.setAskInput(QString(5002, u'q'));
    EXPECT_EQ(m.notice(), std::nullopt);
    RecordStore restarted(folder + QStringLiteral("/records"));
    EXPECT_EQ(UnsentTextStore(restarted).load(kitty).ask, QString(5002, u'q')) << "a restart finds the newest text";

    // A plan edit the service cannot take meanwhile, on a full disk: not said to be kept here.
    ASSERT_TRUE(disk.fill());
    f.service.failures["savePlanDrafts"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    m.setPlanDrafts({titled(1, "edited")});
    finish(m.savePlan(), "the save on a full disk");
    EXPECT_TRUE(m.planUnsaved());
    EXPECT_FALSE(m.planKept());
    EXPECT_EQ(m.notice()->text, QStringLiteral("No connection to sorvane.app right now. Plan changes are not saved yet "
                                               "and could not be kept on this computer."));
    // The next change after room came back writes it: now it is kept, and the plan's pill hears of it.
    QSignalSpy pill(&m, &AppModel::planUnsavedChanged);
    ASSERT_TRUE(disk.unfill());
    m.setAskInput(QStringLiteral("more"));
    EXPECT_TRUE(m.planKept());
    EXPECT_GE(pill.count(), 1);
    EXPECT_EQ(m.planUnsavedText(), QStringLiteral("Plan changes are kept here but not saved yet."));

    // Started again without the service, the disk read-only: an edit waits for
    // the service to name the account, and is not said to be kept here either.
    ASSERT_TRUE(disk.setReadOnly(true));
    f.h.make(&f.service);
    f.service.results["restoreSession"] = ServiceClient::RestoreOutcome::unverified;
    f.service.failures["currentUser"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(f.model().bootstrap(), "the offline start");
    ASSERT_TRUE(f.model().sessionUnverified());
    f.model().setPlanDrafts({titled(1, "edited offline")});
    finish(f.model().savePlan(), "the save while offline");
    EXPECT_EQ(f.model().notice()->text,
              QStringLiteral("Plan changes are not saved yet and could not be kept on this computer."));
    ASSERT_TRUE(disk.setReadOnly(false));
}

// A draft on the service asked for, its answer lost and the look-up out of
// reach; once the service answers, it was made: the words the composer kept
// of it are done with, and do not come back at the next start.
TEST(PublishingFlows, ADraftFoundMadeAfterALostAnswerEndsWhatTheComposerKeptOfIt)
{
    Flows f;
    startKitty(f, {});
    AppModel &m = f.model();
    const QString owner = QStringLiteral("kitty@example.com");
    m.keptComposer().save(owner, {PublishFormat::feed, QStringLiteral("words"), {}, QStringLiteral("K1"), QStringLiteral("K2"), {}});
    ImportedMedia photo;
    photo.kind = ImportedMedia::Kind::image;
    photo.fileName = QStringLiteral("photo.jpg");
    photo.data = MediaData::fromBytes(QByteArray(100, 'j'));
    photo.contentType = QStringLiteral("image/jpeg");
    ComposerSubmission s;
    s.caption = QStringLiteral("words");
    s.media = {photo};
    s.saveAsDraft = true;
    s.idempotencyKey = QStringLiteral("K2");
    f.service.results["uploadInstagramMedia"] = QStringLiteral("media-1");
    f.service.failures["createInstagramPublication"] = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    f.service.failures["existingInstagramPublication"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    ASSERT_EQ(finish(m.publish(s), "the draft's sending").kind, PublishOutcome::Kind::unknown);
    ASSERT_TRUE(m.keptComposer().load(owner));

    ZephylWire::Publication made;
    made.id = QStringLiteral("draft-1");
    made.status = QStringLiteral("draft");
    f.service.failures.clear();
    f.service.results["existingInstagramPublication"] = std::optional<ZephylWire::Publication>(made);
    f.h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.publicationPending(QStringLiteral("K2")); }));
    EXPECT_EQ(m.keptComposer().load(owner), std::nullopt);
}
