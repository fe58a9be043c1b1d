// The flows over the real client against the stand-in service on loopback: the
// stand-in keeps its own records, and they are what these cases check.

#include "FlowTestSupport.h"
#include "LiveSupport.h"

#include "app/UnsavedPlanStore.h"
#include "app/UnsentTextStore.h"
#include "base/RecordStore.h"

#include <QCoro/QCoroNetworkReply>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslConfiguration>

#include <gtest/gtest.h>

using namespace flowtest;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");

// A browser that follows redirects and clicks the first link of a page, until
// the page sends it to the application's scheme: the stand-in's Google account
// chooser and Instagram authorization page, walked as a user would.
class LoopbackBrowser final : public WebAuthSession {
public:
    explicit LoopbackBrowser(std::shared_ptr<int> runs) : m_runs(std::move(runs)) {}

    QCoro::Task<QUrl> run(QUrl url, QString callbackScheme, bool) override
    {
        ++*m_runs;
        QNetworkAccessManager network;
        network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        for (int hop = 0; hop < 6; ++hop) {
            QNetworkReply *reply = network.get(QNetworkRequest(url));
            co_await qCoro(reply).waitForFinished(std::chrono::seconds(30));
            reply->deleteLater();
            const QByteArray location = reply->rawHeader("Location");
            if (!location.isEmpty()) {
                url = url.resolved(QUrl::fromEncoded(location));
                // The raw text: the callback is the application's own scheme.
                if (QString::fromUtf8(location).startsWith(callbackScheme + QLatin1Char(':')))
                    co_return QUrl(QString::fromUtf8(location));
                continue;
            }
            static const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
            const auto match = href.match(QString::fromUtf8(reply->readAll()));
            if (!match.hasMatch())
                break;
            url = url.resolved(QUrl(match.captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&"))));
        }
        throw Failure(Failure::Kind::couldNotStart);
    }

private:
    std::shared_ptr<int> m_runs;
};

struct BrowserGuard {
    std::shared_ptr<int> runs = std::make_shared<int>(0);
    BrowserGuard()
    {
        WebAuthSession::setFactory([r = runs](WebAuthSession::AnchorProvider) {
            return std::unique_ptr<WebAuthSession>(new LoopbackBrowser(r));
        });
    }
    ~BrowserGuard() { WebAuthSession::setFactory({}); }
};

class FlowsLive : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The stand-in's https host presents its own certificate.
        Standin::trustCertificate();
    }

    void SetUp() override
    {
        ASSERT_NE(live.server.port(), 0);
        L10n::setPreference(AppLanguage::en);
    }

    AppModel &model() { return *h.model; }
    Standin::Operations &ops() { return live.ops(); }
    QString userId() { return server.state().accounts.value(kEmail).userId; }
    void signIn() { ASSERT_TRUE(finish(model().signIn(kEmail, kPassword))); }
    QJsonArray storedDrafts() { return ops().drafts.value(userId()); }

    apptest::LanguageGuard language;
    livetest::LiveService live{kEmail, kPassword};
    Standin::Server &server = live.server;
    ZephylAPI *api = live.api.get();
    apptest::Harness &h = live.h;
};

} // namespace

TEST_F(FlowsLive, SignInLoadsTheAccountAndTheFeedPagesToItsEnd)
{
    ops().connected.insert(userId());
    ops().drafts.insert(userId(), QJsonArray{QJsonObject{{"id", 1}, {"title", "Morning light"}}});
    AppModel &m = model();
    signIn();
    EXPECT_EQ(m.session(), SessionState::signedIn);
    ASSERT_TRUE(m.user());
    EXPECT_EQ(m.user()->email, kEmail);
    ASSERT_TRUE(m.instagram());
    EXPECT_EQ(m.instagram()->username, QStringLiteral("kitty.studio"));
    EXPECT_EQ(m.planDrafts().size(), 1);
    EXPECT_EQ(m.feedItems().size(), 10);
    EXPECT_TRUE(m.feedHasMore());
    EXPECT_EQ(m.inputOwner(), kEmail);

    // 23 posts, ten a page: three pages, and never more.
    for (int page = 1; m.feedHasMore(); ++page) {
        ASSERT_LT(page, 3) << "the feed still has more after page " << page;
        finish(m.loadFeed(false), "the feed's next page");
    }
    EXPECT_EQ(m.feedItems().size(), 23);
    EXPECT_EQ(m.feedItems().last().id, QStringLiteral("media-023"));
    EXPECT_EQ(m.feedStatus(), FeedStatus::synced());

    // The Instagram callback link reloads the profile, then the feed from its first page.
    server.clearSeen();
    m.handleURL(QStringLiteral("sorvane://instagram-connected?status=whatever"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/api/social/feed")) == 1; }));
    ASSERT_TRUE(zktest::spinUntil([&] { return m.feedItems().size() == 10; }));
    EXPECT_FALSE(server.seen(QStringLiteral("/api/social/feed")).first().query.hasQueryItem(QStringLiteral("cursor")));
    // A host in capitals is no callback: only the link after it reloads.
    server.clearSeen();
    m.handleURL(QStringLiteral("sorvane://INSTAGRAM-CONNECTED"));
    m.handleURL(QStringLiteral("sorvane://instagram-connected"));
    ASSERT_TRUE(zktest::spinUntil([&] { return server.count(QStringLiteral("/api/social/feed")) == 1; }));
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/instagram/session")), 1);
}

TEST_F(FlowsLive, ASessionTheServiceGaveUpEndsOnceAndNothingMoreIsAsked)
{
    AppModel &m = model();
    signIn();
    // The account has a conversation with the cat, text not sent yet, and a
    // plan change the service has not taken.
    finish(m.ask(QStringLiteral("when should I post?")), "the question");
    ASSERT_EQ(m.catChat().size(), 2);
    const QList<CatChatLine> asked = m.catChat();
    m.setAskInput(QStringLiteral("and what about"));
    m.setAssistantDraft(QStringLiteral("a caption for"));
    server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/api/plan/drafts"), 503, std::nullopt, 0, -1});
    ZephylWire::PlanDraft kept;
    kept.id = 7;
    kept.title = QStringLiteral("kept for kitty");
    kept.format = QStringLiteral("post");
    m.setPlanDrafts({kept});
    finish(m.savePlan(), "the save the service fails");
    ASSERT_TRUE(m.planUnsaved());
    server.clearFaults();
    // The service no longer takes the access token, nor renews it.
    server.expireAccessTokens();
    server.addFault({Standin::Fault::Kind::unauthorized, QStringLiteral("/api/v1/auth/refresh"), 401, std::nullopt, 0, -1});
    server.clearSeen();

    finish(m.loadAfterSignIn());
    EXPECT_EQ(m.session(), SessionState::signedOut);
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_EQ(server.count(QStringLiteral("/api/plan/drafts")), 0);
    EXPECT_EQ(server.count(QStringLiteral("/api/assistant/thread")), 0);
    EXPECT_EQ(server.count(QStringLiteral("/api/social/feed")), 0);
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/logout")), 1);
    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_EQ(api->accessToken(), std::nullopt) << "the stored session is gone";

    // Nothing typed is lost; the conversation and the kept plan stay the account's own.
    EXPECT_EQ(m.askInput(), QStringLiteral("and what about"));
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("a caption for"));
    EXPECT_TRUE(m.catChat().isEmpty());
    EXPECT_EQ(CatChatLine::load(RecordStore::of(h.store), kEmail).size(), 2);
    EXPECT_EQ(UnsentTextStore(h.store).load(kEmail),
              (UnsentTextStore::Text{QStringLiteral("a caption for"), QStringLiteral("and what about")}));
    ASSERT_TRUE(UnsavedPlanStore(h.store).load(kEmail));
    server.clearFaults();

    // Another account signs in next: it sees none of it and sends none of it.
    const QString dog = QStringLiteral("dog@example.com");
    server.addAccount(dog, kPassword, QStringLiteral("Dog"));
    server.clearSeen();
    ASSERT_TRUE(finish(m.signIn(dog, kPassword)));
    EXPECT_TRUE(m.catChat().isEmpty());
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_EQ(m.assistantDraft(), QString());
    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_FALSE(m.planUnsaved());
    finish(m.ask(QStringLiteral("hello?")), "the other account's question");
    ASSERT_EQ(server.count(QStringLiteral("/api/assistant")), 1);
    EXPECT_EQ(server.seen(QStringLiteral("/api/assistant")).first().json().value("history").toArray().size(), 0);
    EXPECT_EQ(server.count(QStringLiteral("/api/plan/drafts")), 1) << "loaded, never written";
    EXPECT_TRUE(ops().drafts.value(server.state().accounts.value(dog).userId).isEmpty());
    finish(m.signOut());

    // The account signs in again: its conversation, its text and its plan come back.
    signIn();
    // (Stored lines keep no chips.)
    ASSERT_EQ(m.catChat().size(), asked.size());
    for (qsizetype i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(m.catChat()[i].id, asked[i].id);
        EXPECT_EQ(m.catChat()[i].text, asked[i].text);
    }
    EXPECT_EQ(m.askInput(), QStringLiteral("and what about"));
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("a caption for"));
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planUnsaved() && !m.planSaving(); }));
    ASSERT_EQ(storedDrafts().size(), 1);
    EXPECT_EQ(storedDrafts().first().toObject().value("title").toString(), QStringLiteral("kept for kitty"));
    EXPECT_EQ(UnsavedPlanStore(h.store).load(kEmail), std::nullopt);
}

TEST_F(FlowsLive, GoogleSignInThroughTheProvidersPages)
{
    BrowserGuard browser;
    AppModel &m = model();
    m.setSession(SessionState::signedOut);
    EXPECT_TRUE(finish(m.signInWithGoogle()));
    EXPECT_EQ(*browser.runs, 1);
    EXPECT_EQ(m.session(), SessionState::signedIn);
    ASSERT_TRUE(m.user());
    EXPECT_EQ(m.user()->email, kEmail);
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/supabase/exchange")), 1);
}

TEST_F(FlowsLive, InstagramConnectsThroughItsPageAndAClosedSheetIsReportedOnce)
{
    AppModel &m = model();
    signIn();
    {
        BrowserGuard browser;
        finish(m.connectInstagram(false));
        EXPECT_TRUE(ops().connected.contains(userId()));
        ASSERT_TRUE(m.instagram());
        EXPECT_EQ(m.notice()->text, QStringLiteral("Connected as @kitty.studio"));
        EXPECT_EQ(m.feedItems().size(), 10);
        EXPECT_EQ(h.events.last().text, QStringLiteral("@kitty.studio is connected. I'll keep an eye on the plan."));
    }
    {
        WebScriptGuard web;
        web->end = WebScript::End::cancelled;
        const QString noticeBefore = m.notice()->text;
        finish(m.connectInstagram(true));
        EXPECT_EQ(ops().abandonedReports, 1);
        EXPECT_EQ(m.notice()->text, noticeBefore);
    }
    finish(m.disconnectInstagram());
    EXPECT_FALSE(ops().connected.contains(userId()));
    EXPECT_EQ(m.feedStatus(), FeedStatus::disconnected());
}

TEST_F(FlowsLive, TheAskPanelSendsTheLastSixteenLinesInTheCatsVoice)
{
    AppModel &m = model();
    signIn();
    m.setCompanionName(QStringLiteral("Miso"));
    for (int i = 0; i < 20; ++i)
        finish(m.ask(QStringLiteral("tell me something %1").arg(i)));
    const auto asked = server.seen(QStringLiteral("/api/assistant"));
    ASSERT_EQ(asked.size(), 20);
    const QJsonObject body = asked.last().json();
    EXPECT_EQ(body.value("message").toString(), QStringLiteral("tell me something 19"));
    const QJsonArray history = body.value("history").toArray();
    ASSERT_EQ(history.size(), 16);
    EXPECT_EQ(history.first().toObject().value("role").toString(), QStringLiteral("user"));
    EXPECT_EQ(history.first().toObject().value("content").toString(), QStringLiteral("tell me something 11"));
    EXPECT_EQ(history.last().toObject().value("role").toString(), QStringLiteral("assistant"));
    EXPECT_EQ(body.value("persona").toString(), QStringLiteral("kitty"));
    EXPECT_EQ(body.value("catName").toString(), QStringLiteral("Miso"));
    EXPECT_TRUE(m.askReply()->text.startsWith(QStringLiteral("Miso here.")));
    EXPECT_EQ(CatChatLine::load(RecordStore::of(h.store), kEmail).size(), 40);
}

TEST_F(FlowsLive, AnAssistantExchangeIsStoredInItsThread)
{
    AppModel &m = model();
    signIn();
    const auto first = finish(m.send(QStringLiteral("plan my week")));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->actions.size(), 1);
    EXPECT_EQ(first->actions.first().id, QStringLiteral("open_planner"));
    finish(m.send(QStringLiteral("and a caption?")));
    const auto &store = ops().threadStores[userId()];
    ASSERT_EQ(store.threads.size(), 1);
    EXPECT_EQ(m.activeThreadID(), store.activeThreadId);
    EXPECT_EQ(store.threads.first().messages.size(), 4);
    EXPECT_EQ(store.threads.first().messages.at(2).toObject().value("content").toString(),
              QStringLiteral("and a caption?"));
    const QJsonObject asked = server.seen(QStringLiteral("/api/assistant")).last().json();
    EXPECT_FALSE(asked.contains("persona")) << "the assistant screen speaks without the cat";
    EXPECT_EQ(asked.value("history").toArray().size(), 2);
}

// Another client wrote members this application does not read on a draft whose
// id is beyond a double's exact range: a draft added here, the whole list goes
// back with them and every id exactly as they were (the preview never goes back).
TEST_F(FlowsLive, AWholeListWriteKeepsWhatOtherClientsWroteAndEveryIdExactly)
{
    ops().drafts.insert(userId(), QJsonArray{QJsonDocument::fromJson(
        R"({"id":1844674407370955161,"title":"From the web","caption":"","hashtags":"","format":"post","scheduledAt":"",
            "hiddenFromGrid":false,"preview":"https://cdn.example.com/p.jpg","notes":"shot at dawn",
            "location":{"name":"Lisbon","lat":38.72}})").object()});
    AppModel &m = model();
    signIn();
    Draft added;
    added.id = m.nextDraftID();
    added.title = QStringLiteral("Kitchen window");
    m.setPlanDrafts(m.planDrafts() + QList{added});
    server.clearSeen();
    finish(m.savePlan(), "the plan's save");
    EXPECT_FALSE(m.planUnsaved());
    ASSERT_EQ(server.count(QStringLiteral("/api/plan/drafts")), 2) << "read, then written";
    EXPECT_TRUE(server.seen(QStringLiteral("/api/plan/drafts")).last().body.contains(R"("id":1844674407370955162)"));
    EXPECT_EQ(QJsonDocument(storedDrafts()).toJson(QJsonDocument::Compact).toStdString(),
              R"([{"caption":"","format":"post","hashtags":"","hiddenFromGrid":false,"id":1844674407370955161,)"
              R"("location":{"lat":38.72,"name":"Lisbon"},"notes":"shot at dawn","scheduledAt":"","title":"From the web"},)"
              R"({"caption":"","format":"post","hashtags":"","hiddenFromGrid":false,"id":1844674407370955162,)"
              R"("scheduledAt":"","title":"Kitchen window"}])");
}

TEST_F(FlowsLive, ABurstOfPlanEditsIsOneWriteAndAFailedWriteKeepsTheEdits)
{
    AppModel &m = model();
    signIn();
    QList<Draft> drafts;
    for (int i = 1; i <= 20; ++i)
        drafts << draft(i);
    m.setPlanDrafts(drafts);
    server.clearSeen();
    std::vector<QCoro::Task<>> burst;
    for (int i = 0; i < 50; ++i) {
        QList<Draft> edited = m.planDrafts();
        edited[i % 20].title = QStringLiteral("edit %1").arg(i);
        m.setPlanDrafts(edited);
        burst.push_back(m.savePlan());
    }
    for (auto &t : burst)
        finish(std::move(t), "a save of the burst");
    ASSERT_TRUE(zktest::spinUntil([&] { return !m.planSaving(); }));
    EXPECT_EQ(server.count(QStringLiteral("/api/plan/drafts")), 2) << "one read, and the burst, made meanwhile, in one write";
    const QJsonArray stored = storedDrafts();
    ASSERT_EQ(stored.size(), 20);
    EXPECT_EQ(stored.at(9).toObject().value("title").toString(), QStringLiteral("edit 49"));
    EXPECT_EQ(stored.at(0).toObject().value("title").toString(), QStringLiteral("edit 40"));

    // The service fails once: the edit stays, marked unsaved, and goes with the next save.
    server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/api/plan/drafts"), 503, std::nullopt, 0, 1});
    QList<Draft> edited = m.planDrafts();
    edited[0].title = QStringLiteral("kept through a failure");
    m.setPlanDrafts(edited);
    finish(m.savePlan(), "the plan's failed save");
    EXPECT_TRUE(m.planUnsaved());
    EXPECT_EQ(m.planDrafts()[0].title, QStringLiteral("kept through a failure"));
    EXPECT_TRUE(m.notice()->text.endsWith(QStringLiteral("Plan changes are kept here but not saved yet.")));
    EXPECT_EQ(storedDrafts().at(0).toObject().value("title").toString(), QStringLiteral("edit 40"));
    finish(m.savePlan(), "the plan's save");
    EXPECT_FALSE(m.planUnsaved());
    EXPECT_EQ(storedDrafts().at(0).toObject().value("title").toString(), QStringLiteral("kept through a failure"));
}
