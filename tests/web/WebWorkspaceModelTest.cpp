#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "web/WebWorkspaceModel.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <tuple>

using namespace std::chrono_literals;
using Phase = WebWorkspaceModel::Phase;

namespace {

// Records what the page would be asked to do.
class RecordingStage : public InWindowCatStage {
public:
    QStringList calls;
    void show(Look look, QSizeF, double seconds) override
    {
        calls << QStringLiteral("show %1 %2").arg(rawValue(look)).arg(seconds);
    }
    void composerOpened(std::optional<QRectF>, std::optional<QRectF> sheet, QSizeF) override
    {
        calls << QStringLiteral("composerOpened %1").arg(sheet ? sheet->width() : -1);
    }
    void sheetMoved(std::optional<QRectF>) override { calls << QStringLiteral("sheetMoved"); }
    void visit(std::optional<QRectF>, std::optional<QRectF>, QSizeF) override { calls << QStringLiteral("visit"); }
    void composerClosed(const QString &outcome, std::optional<QRectF>, std::optional<QRectF>, QSizeF) override
    {
        calls << QStringLiteral("composerClosed ") + outcome;
    }
};

class FakeWorkspace : public WebWorkspaceModel {
public:
    explicit FakeWorkspace(RecordingStage *stage)
        : WebWorkspaceModel(QUrl(QStringLiteral("https://www.sorvane.app")), stage)
    {
    }
    QList<QUrl> loads;
    int stops = 0;
    QStringList scripts;
    QList<QNetworkCookie> cookies;
    int forgotten = 0;
    bool holdCookies = false;
    QList<std::function<void(const QList<QNetworkCookie> &)>> heldAnswers;
    // Scripts whose end is awaited end only when the test says.
    bool holdScripts = false;
    QList<std::function<void()>> heldScripts;
    double idle = 0;
    // When set, the idle time grows with the clock from this uptime on, as the
    // desktop's own count does.
    std::optional<double> lastInput;
    bool active = true;

    void post(const char *json, const QString &host = QStringLiteral("www.sorvane.app"))
    {
        receive(QJsonDocument::fromJson(json).object(), host);
    }
    using WebWorkspaceModel::markWorkspaceReady;

protected:
    bool hasPageURL() const override { return !loads.isEmpty(); }
    std::optional<QString> engineVersion() const override { return QStringLiteral("102.0.5005.177"); }
    void loadURL(const QUrl &url) override { loads << url; }
    void stopLoading() override { ++stops; }
    void runScript(const QString &script, std::function<void()> done) override
    {
        scripts << script;
        if (done && holdScripts)
            heldScripts << done;
        else if (done)
            done();
    }
    QSizeF pageSize() const override { return {800, 600}; }
    void fetchCookies(std::function<void(const QList<QNetworkCookie> &)> answer) override
    {
        if (holdCookies)
            heldAnswers << answer;
        else
            answer(cookies);
    }
    void forgetSession(std::function<void()> done) override
    {
        ++forgotten;
        cookies.removeIf([](const QNetworkCookie &c) { return c.name() == "__Host-zephyl_session"; });
        done();
    }
    bool applicationActive() const override { return active; }
    double secondsSinceInput() const override { return lastInput ? Clock::shared().uptime() - *lastInput : idle; }
};

class WebWorkspaceModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clock::setShared(&clock);
        DefaultsStore::setShared(&store);
        stage = new RecordingStage;
        web = std::make_unique<FakeWorkspace>(stage);
    }
    void TearDown() override
    {
        web.reset();
        Clock::setShared(nullptr);
        DefaultsStore::setShared(nullptr);
    }
    void signIn(const char *name = "Ada Lovelace")
    {
        web->post(QStringLiteral(R"({"type":"session","signedIn":true,"path":"/instagram","email":"ada@example.com","displayName":"%1"})")
                      .arg(QLatin1String(name))
                      .toUtf8()
                      .constData());
    }
    int count(const QString &needle) const { return web->scripts.filter(needle).size(); }

    FakeClock clock;
    DefaultsStore store;
    RecordingStage *stage = nullptr;
    std::unique_ptr<FakeWorkspace> web;
};

} // namespace

TEST_F(WebWorkspaceModelTest, GreetingRuleHoldsForExactlySixHours)
{
    const QDateTime t0 = clock.now();
    EXPECT_TRUE(WebWorkspaceModel::greetingDue(t0));
    EXPECT_FALSE(WebWorkspaceModel::greetingDue(t0.addSecs(21600)));
    EXPECT_FALSE(WebWorkspaceModel::greetingDue(t0.addSecs(-100))) << "a clock set back counts as recent";
    EXPECT_TRUE(WebWorkspaceModel::greetingDue(t0.addMSecs(21600'001)));
    EXPECT_EQ(store.number(QStringLiteral("zephyl.mac.greetedAt")), t0.addMSecs(21600'001).toMSecsSinceEpoch() / 1000.0);
}

TEST_F(WebWorkspaceModelTest, EntryPageFollowsTheSessionCookieAndTheNewestRequest)
{
    web->start();
    ASSERT_EQ(web->loads.size(), 1);
    EXPECT_EQ(web->loads.last(), QUrl(QStringLiteral("https://www.sorvane.app/signin?return_to=%2Finstagram")));
    web->start();
    EXPECT_EQ(web->loads.size(), 1) << "a second start does nothing";

    QNetworkCookie live("__Host-zephyl_session", "s");
    live.setDomain(QStringLiteral("www.sorvane.app"));
    web->cookies = {live};
    web->holdCookies = true;
    web->openEntry();
    web->openEntry();
    ASSERT_EQ(web->heldAnswers.size(), 2);
    web->heldAnswers[0](web->cookies); // the older request answers late: ignored
    EXPECT_EQ(web->loads.size(), 1);
    web->heldAnswers[1](web->cookies);
    ASSERT_EQ(web->loads.size(), 2);
    EXPECT_EQ(web->loads.last(), QUrl(QStringLiteral("https://www.sorvane.app/instagram")));
}

TEST_F(WebWorkspaceModelTest, OutdatedRehearsalLoadsNothing)
{
    store.setBool(QStringLiteral("zephyl.mac.rehearse.oldWebKit"), true);
    web->start();
    EXPECT_EQ(web->phase(), Phase::outdated());
    EXPECT_TRUE(web->loads.isEmpty());
}

TEST_F(WebWorkspaceModelTest, SessionMessagesMovePhaseAndReportTheAccountOnce)
{
    QList<std::optional<WebWorkspaceModel::Account>> reported;
    web->onAccountChange = [&](const auto &a) { reported << a; };

    web->post(R"({"type":"session","signedIn":true,"path":"/instagram","email":"a@b.c","displayName":"A"})",
              QStringLiteral("evil.example"));
    EXPECT_TRUE(reported.isEmpty()) << "another host is ignored";
    EXPECT_EQ(web->phase(), Phase::loading());

    web->post(R"({"type":"session","signedIn":true,"path":"/signin","email":"a@b.c","displayName":"A"})",
              QStringLiteral("sorvane.app"));
    EXPECT_EQ(web->phase(), Phase::signIn()) << "the sign-in path wins over the flag";
    ASSERT_EQ(reported.size(), 1);

    const int calmBefore = count(QStringLiteral("setCalm("));
    web->post(R"({"type":"session","signedIn":true,"path":"/instagram","email":"a@b.c","displayName":"A"})");
    web->post(R"({"type":"session","signedIn":true,"path":"/instagram","email":"a@b.c","displayName":"A"})");
    EXPECT_EQ(web->phase(), Phase::workspace());
    EXPECT_EQ(reported.size(), 1) << "the same account is reported once";
    EXPECT_EQ(count(QStringLiteral("setFocus({active:false})")), 2);
    EXPECT_EQ(count(QStringLiteral("setCalm(")) - calmBefore, 2) << "the calm state is forced each time";

    web->post(R"({"type":"session","signedIn":false,"path":"/elsewhere"})");
    EXPECT_EQ(web->phase(), Phase::workspace()) << "other paths keep the phase";
    ASSERT_EQ(reported.size(), 2);
    EXPECT_FALSE(reported.last().has_value());
    web->post(R"({"type":"session","signedIn":false,"path":"/instagram"})");
    EXPECT_EQ(web->phase(), Phase::loading());
    EXPECT_EQ(reported.size(), 2);

    // Signed out on the page's root: the old account's workspace goes too.
    web->post(R"({"type":"session","signedIn":true,"path":"/instagram","email":"a@b.c","displayName":"A"})");
    ASSERT_EQ(web->phase(), Phase::workspace());
    web->post(R"({"type":"session","signedIn":false,"path":"/"})");
    EXPECT_EQ(web->phase(), Phase::loading());
    EXPECT_EQ(reported.size(), 4);
    EXPECT_FALSE(reported.last().has_value());

    // Nobody from the page that had reported the account is its sign-out; from
    // a page loading anew, or one that never said, it is not.
    for (const auto &[reporting, saying, signedOut] : {std::tuple("one", "one", true), std::tuple("one", "two", false),
                                                        std::tuple("", "", false)}) {
        web->receive(QJsonDocument::fromJson(R"({"type":"session","signedIn":true,"path":"/instagram","email":"a@b.c"})")
                         .object(), QStringLiteral("sorvane.app"), QString::fromLatin1(reporting));
        web->receive(QJsonDocument::fromJson(R"({"type":"session","signedIn":false,"path":"/instagram"})").object(),
                     QStringLiteral("sorvane.app"), QString::fromLatin1(saying));
        EXPECT_EQ(web->signedOutInPage(), signedOut) << reporting << " / " << saying;
    }
}

TEST_F(WebWorkspaceModelTest, APageWhoseSessionEndedKeepsItsDraftThenOpensItsEntryAndTellsTheNextAccount)
{
    QList<std::optional<WebWorkspaceModel::Account>> reported;
    web->onAccountChange = [&](const auto &a) { reported << a; };
    web->start();
    signIn();
    const qsizetype loadsBefore = web->loads.size();
    web->holdScripts = true;
    web->returnToSignIn();
    EXPECT_EQ(web->account(), std::nullopt);
    EXPECT_EQ(web->scripts.last(), QStringLiteral("window.__zephylMac && window.__zephylMac.saveChatDraft()"));
    EXPECT_EQ(web->loads.size(), loadsBefore) << "the chat draft is kept before the page goes";
    ASSERT_EQ(web->heldScripts.size(), 1);
    web->heldScripts.takeFirst()();
    EXPECT_EQ(web->loads.size(), loadsBefore + 1);
    EXPECT_EQ(web->phase(), Phase::loading());

    web->post(R"({"type":"session","signedIn":false,"path":"/signin"})");
    signIn();
    EXPECT_EQ(reported.size(), 2) << "nobody is not told again; the same account, signed in again, is";

    // Sent back, the page comes straight back with the same account: the service
    // refuses only the application's calls. Opening it again would repeat that
    // without end: its session goes, and it opens at its sign-in, where the
    // application's signed-out state and the page agree.
    QNetworkCookie session("__Host-zephyl_session", "s");
    session.setDomain(QStringLiteral("www.sorvane.app"));
    web->cookies = {session};
    web->returnToSignIn();
    web->heldScripts.takeFirst()();
    EXPECT_EQ(web->forgotten, 0) << "the first time the page only opens again";
    EXPECT_EQ(web->loads.last().path(), QStringLiteral("/instagram"));
    signIn();
    web->returnToSignIn();
    EXPECT_EQ(web->account(), std::nullopt) << "sent back again at once";
    ASSERT_EQ(web->heldScripts.size(), 1) << "the chat draft is kept first";
    web->heldScripts.takeFirst()();
    EXPECT_EQ(web->forgotten, 1);
    EXPECT_EQ(web->loads.last(), QUrl(QStringLiteral("https://www.sorvane.app/signin?return_to=%2Finstagram")));
    web->post(R"({"type":"session","signedIn":false,"path":"/signin"})");
    EXPECT_EQ(web->phase(), Phase::signIn());
    // Signed in there again, the account is told again.
    web->cookies = {session};
    signIn();
    EXPECT_EQ(reported.size(), 4);
    EXPECT_EQ(reported.last(), (WebWorkspaceModel::Account{"ada@example.com", "Ada Lovelace"}));
    // Only a page that came straight back loses its session: a while later it opens again.
    web->returnToSignIn();
    web->heldScripts.takeFirst()();
    signIn();
    clock.advance(10min);
    web->returnToSignIn();
    web->heldScripts.takeFirst()();
    EXPECT_EQ(web->forgotten, 1);
    EXPECT_EQ(web->loads.last().path(), QStringLiteral("/instagram"));
}

TEST_F(WebWorkspaceModelTest, GreetingUsesTheFirstWordAndAMomentLastsFiveSeconds)
{
    QList<bool> inside;
    QObject::connect(web.get(), &WebWorkspaceModel::catInsideChanged, [&](bool v) { inside << v; });
    signIn("  Ada   Lovelace ");
    clock.advance(2499ms);
    EXPECT_FALSE(web->moment());
    clock.advance(1ms);
    ASSERT_TRUE(web->moment());
    EXPECT_EQ(web->moment()->text, QStringLiteral("Welcome back, Ada."));
    clock.advance(5s);
    EXPECT_FALSE(web->moment());
    EXPECT_EQ(inside, (QList<bool>{true, false}));

    signIn();
    clock.advance(10s);
    EXPECT_FALSE(web->moment()) << "one greeting per run";
}

TEST_F(WebWorkspaceModelTest, GreetingWithoutANameAndASecondMomentKeepsItsFullTime)
{
    signIn("   ");
    clock.advance(2500ms);
    ASSERT_TRUE(web->moment());
    EXPECT_EQ(web->moment()->text, QStringLiteral("Welcome back."));
    clock.advance(3s);
    web->showMoment(QStringLiteral("second"), std::nullopt);
    clock.advance(4s);
    ASSERT_TRUE(web->moment());
    EXPECT_EQ(web->moment()->text, QStringLiteral("second"));
    clock.advance(1s);
    EXPECT_FALSE(web->moment());
}

TEST_F(WebWorkspaceModelTest, StateMessagesAndReadinessDeadlines)
{
    QList<AppTheme> themes;
    QList<AppLanguage> languages;
    web->onThemeChange = [&](AppTheme t) { themes << t; };
    web->onLanguageChange = [&](AppLanguage l) { languages << l; };

    web->post(R"({"type":"state","view":"","composer":"open","theme":"system","lang":"system"})");
    EXPECT_EQ(web->screen(), QString());
    EXPECT_TRUE(web->composerOpen());
    clock.advance(10s);
    EXPECT_FALSE(web->workspaceReady()) << "an empty view schedules nothing";
    EXPECT_TRUE(themes.isEmpty());
    EXPECT_TRUE(languages.isEmpty());

    web->post(R"({"type":"state","view":"planner","theme":"dark","lang":"pt-BR"})");
    EXPECT_EQ(web->screen(), QStringLiteral("planner"));
    EXPECT_FALSE(web->composerOpen()) << "no composer key means closed";
    EXPECT_EQ(themes, (QList<AppTheme>{AppTheme::dark}));
    EXPECT_EQ(languages, (QList<AppLanguage>{AppLanguage::pt}));
    clock.advance(699ms);
    EXPECT_FALSE(web->workspaceReady());
    clock.advance(1ms);
    EXPECT_TRUE(web->workspaceReady());
}

TEST_F(WebWorkspaceModelTest, TheEarliestReadinessDeadlineStands)
{
    web->markWorkspaceReady(6);
    clock.advance(1s);
    web->markWorkspaceReady(0.7);
    clock.advance(699ms);
    EXPECT_FALSE(web->workspaceReady());
    clock.advance(1ms);
    EXPECT_TRUE(web->workspaceReady());

    web->openEntry();
    EXPECT_FALSE(web->workspaceReady());
    web->markWorkspaceReady(0.7);
    web->markWorkspaceReady(6);
    clock.advance(700ms);
    EXPECT_TRUE(web->workspaceReady());
    EXPECT_EQ(clock.pending(), 2u) << "the attention timer and the entry load's deadline; no readiness task is left";
}

TEST_F(WebWorkspaceModelTest, PublicationsPassOncePerStatus)
{
    QStringList passed;
    web->post(R"({"type":"publication","id":"p1","status":"processing"})"); // recorded without a callback
    web->onPublication = [&](const WebWorkspaceModel::PublicationEvent &e) { passed << e.id + u':' + e.status; };
    web->post(R"({"type":"publication","id":"p1","status":"processing"})");
    web->post(R"({"type":"publication","id":"p1","status":"published","platformUrl":"https://instagram.com/p/1"})");
    web->post(R"({"type":"publication","id":"p1","status":"processing"})");
    web->post(R"({"type":"publication","id":"p2"})");
    web->post(R"({"type":"publication","id":"p2","status":"failed"})");
    EXPECT_EQ(passed, (QStringList{QStringLiteral("p1:published"), QStringLiteral("p1:processing"),
                                   QStringLiteral("p2:failed")}));
}

TEST_F(WebWorkspaceModelTest, SceneLimitsInVirtualTime)
{
    web->post(R"({"type":"scene","name":"composer-open","sheet":{"x":0,"y":0,"w":300,"h":400}})");
    EXPECT_TRUE(stage->calls.isEmpty()) << "no scenes before the workspace";

    signIn();
    web->post(R"({"type":"scene","name":"composer-open","sheet":{"x":0,"y":0,"w":300,"h":400}})");
    clock.advance(30s);
    web->post(R"({"type":"scene","name":"composer-open"})");
    web->post(R"({"type":"scene","name":"composer-close"})");
    EXPECT_EQ(stage->calls, QStringList{QStringLiteral("composerOpened 300")}) << "the second leap is refused";

    clock.advance(91s); // 121 s after the first leap
    web->post(R"({"type":"scene","name":"composer-open"})");
    web->post(R"({"type":"scene","name":"composer-sheet"})");
    web->post(R"({"type":"scene","name":"composer-close"})");
    EXPECT_EQ(stage->calls.mid(1), (QStringList{QStringLiteral("composerOpened -1"), QStringLiteral("sheetMoved"),
                                                QStringLiteral("composerClosed cancelled")}));

    stage->calls.clear();
    web->post(R"({"type":"scene","name":"assistant-open"})");
    clock.advance(599s);
    web->post(R"({"type":"scene","name":"assistant-open"})");
    clock.advance(1s);
    web->post(R"({"type":"scene","name":"assistant-open"})");
    EXPECT_EQ(stage->calls, (QStringList{QStringLiteral("visit"), QStringLiteral("visit")}));

    // The demonstration's carry turns any outcome into the plan, once.
    stage->calls.clear();
    web->demoCarryUntil = clock.now().addSecs(3);
    web->post(R"({"type":"scene","name":"composer-open"})");
    web->post(R"({"type":"scene","name":"composer-close","outcome":"cancelled"})");
    EXPECT_FALSE(web->demoCarryUntil);
    web->post(R"({"type":"scene","name":"composer-close","outcome":"cancelled"})");
    EXPECT_EQ(stage->calls, (QStringList{QStringLiteral("composerOpened -1"), QStringLiteral("composerClosed plan")}));

    stage->calls.clear();
    web->post(R"({"type":"mood","look":"happy"})");
    web->post(R"({"type":"mood","look":"dancing"})");
    EXPECT_EQ(stage->calls, QStringList{QStringLiteral("show happy 2.6")});
}

TEST_F(WebWorkspaceModelTest, ScriptsCarryValuesAsJsonAndWaitForTheWorkspace)
{
    web->updateFocus(true, false, QStringLiteral("12:00'); alert('x\"\n"), 25);
    EXPECT_EQ(count(QStringLiteral("setFocus({active:true")), 0) << "stored until the workspace";
    web->show(Surface::grid);
    EXPECT_EQ(count(QStringLiteral("data-navfor")), 0) << "dropped outside the workspace";

    signIn();
    const QString expected = QStringLiteral(
        R"(window.__zephylMac && window.__zephylMac.setFocus({active:true,paused:false,display:"12:00'); alert('x\"\n",minutes:25}))");
    EXPECT_EQ(web->scripts.filter(QStringLiteral("setFocus({active:true")), QStringList{expected});
    web->show(Surface::grid);
    EXPECT_EQ(web->scripts.last(), QStringLiteral(R"(document.querySelector('[data-navfor="studio"]')?.click())"));

    stage->pulse(QStringLiteral("plan'ner"));
    EXPECT_EQ(web->scripts.last(), QStringLiteral(R"(window.__zephylMac && window.__zephylMac.pulse("plan'ner"))"));

    bool saved = false;
    web->preserveUnsentText([&] { saved = true; });
    EXPECT_TRUE(saved);
}

TEST_F(WebWorkspaceModelTest, CalmIsSentOnChangeAndLinesWaitForReadiness)
{
    web->updateCalm(false);
    EXPECT_EQ(count(QStringLiteral("setCalm(false)")), 1) << "the first call always sends";
    clock.advance(2s);
    EXPECT_EQ(count(QStringLiteral("setCalm(")), 1);
    web->idle = 181;
    clock.advance(179s); // the watcher looks when three minutes without input could have passed
    EXPECT_EQ(count(QStringLiteral("setCalm(true)")), 1);

    store.setNumber(QStringLiteral("zephyl.mac.greetedAt"), clock.nowSeconds()); // greeted an hour ago
    signIn();
    EXPECT_FALSE(web->say(QStringLiteral("hi"), 3)) << "not ready yet";
    web->pageCommitted(QUrl(QStringLiteral("https://www.sorvane.app/instagram")));
    clock.advance(6s);
    EXPECT_TRUE(web->workspaceReady());
    EXPECT_FALSE(web->say(QStringLiteral("hi"), 3)) << "an empty stage and no moment";
    web->showMoment(QStringLiteral("a moment"), std::nullopt);
    EXPECT_TRUE(web->say(QStringLiteral("hi"), 3)) << "a showing moment takes the line";
    EXPECT_EQ(web->moment()->text, QStringLiteral("hi"));

    web->loadFailed(-3, QStringLiteral("cancelled"));
    EXPECT_EQ(web->phase(), Phase::workspace());
    web->loadFailed(-105, QStringLiteral("no host"));
    EXPECT_EQ(web->phase(), Phase::failed(QStringLiteral("no host")));
    web->contentProcessEnded();
    EXPECT_EQ(web->phase(), Phase::loading());
    EXPECT_FALSE(web->workspaceReady());
}

TEST_F(WebWorkspaceModelTest, TheAttentionWatcherSleepsAtRestAndWakesOnlyWhenCalmCanChange)
{
    web->lastInput = 0;
    clock.advance(2s);
    EXPECT_EQ(web->scripts, QStringList{QStringLiteral("window.__zephylMac && window.__zephylMac.setCalm(false)")})
        << "the first look sends the state";
    // At rest in front: one look, due when three minutes without input end.
    ASSERT_EQ(clock.pending(), 1u);
    EXPECT_EQ(clock.msUntilNext(), std::optional<qint64>(178'100));
    clock.advance(60s);
    EXPECT_EQ(web->scripts.size(), 1) << "nothing reaches the page while nothing changes";

    web->lastInput = 50; // the user touched the mouse at 50 s
    clock.advance(121s);  // 183 s: past the first due time, the user was here since
    EXPECT_EQ(count(QStringLiteral("setCalm(")), 1);
    EXPECT_EQ(clock.msUntilNext(), std::optional<qint64>(47'100)) << "the look moves to three minutes after the input";
    clock.advance(47'099ms);
    EXPECT_EQ(count(QStringLiteral("setCalm(true)")), 0);
    clock.advance(1ms);
    EXPECT_EQ(count(QStringLiteral("setCalm(true)")), 1) << "away for three minutes";

    // Away, only a look now and then tells when the user is back.
    clock.advance(10s);
    EXPECT_EQ(count(QStringLiteral("setCalm(")), 2);
    web->lastInput = clock.uptime() - 0.5;
    clock.advance(2s);
    EXPECT_EQ(count(QStringLiteral("setCalm(false)")), 2) << "back within one look";
    EXPECT_EQ(clock.msUntilNext(), std::optional<qint64>(180'100 - 2'500));

    // In the background no timer runs: the activation change is an event.
    web->active = false;
    web->updateCalm(false);
    EXPECT_EQ(count(QStringLiteral("setCalm(true)")), 2);
    EXPECT_FALSE(web->attentionArmed());
    EXPECT_EQ(clock.pending(), 0u);
    clock.advance(3600s);
    EXPECT_EQ(count(QStringLiteral("setCalm(")), 4);
    web->active = true;
    web->lastInput = clock.uptime();
    web->updateCalm(false);
    EXPECT_EQ(count(QStringLiteral("setCalm(false)")), 3) << "in front again";
    EXPECT_TRUE(web->attentionArmed());
    EXPECT_EQ(clock.msUntilNext(), std::optional<qint64>(180'100));
}

TEST_F(WebWorkspaceModelTest, APageThatNeverAnswersFailsAfterSixtySeconds)
{
    web->start();
    ASSERT_EQ(web->loads.size(), 1);
    clock.advance(59'999ms);
    EXPECT_EQ(web->phase(), Phase::loading());
    clock.advance(1ms);
    EXPECT_EQ(web->phase(), Phase::failed(QStringLiteral("sorvane.app took too long to answer.")));
    EXPECT_EQ(web->stops, 1) << "the silent load is stopped";

    // The retry's page commits in time: no failure follows it.
    web->retry();
    clock.advance(1s);
    web->pageCommitted(QUrl(QStringLiteral("https://www.sorvane.app/signin?return_to=%2Finstagram")));
    clock.advance(2min);
    EXPECT_EQ(web->phase(), Phase::signIn());
    EXPECT_EQ(web->stops, 1);

    // A failure reported by the engine stands alone.
    web->openEntry();
    web->loadFailed(-105, QStringLiteral("no host"));
    clock.advance(2min);
    EXPECT_EQ(web->phase(), Phase::failed(QStringLiteral("no host")));
    EXPECT_EQ(web->stops, 1);
}
