// Tucking distracting windows away on the virtual clock: the order of visits,
// arrivals and minimises, the fallback when the cat never arrives, and a late
// landing that must not minimise the next window unvisited.

#include "AppTestSupport.h"

#include <gtest/gtest.h>

using namespace apptest;
using namespace std::chrono_literals;

namespace {

const QRectF kFeed(100, 300, 640, 480);
const QRectF kVideos(800, 120, 500, 400);
const QRectF kShorts(40, 40, 300, 500);

// What the coordinator saw, and when (seconds after the sequence began).
struct Seen {
    AppEvent::Kind kind;
    QRectF frame;
    QString text;
    double at;
    friend bool operator==(const Seen &a, const Seen &b)
    {
        return a.kind == b.kind && a.frame == b.frame && a.text == b.text && qFuzzyCompare(a.at + 1, b.at + 1);
    }
    friend std::ostream &operator<<(std::ostream &os, const Seen &s)
    {
        return os << int(s.kind) << " " << s.frame.x() << "," << s.frame.y() << " '" << s.text.toStdString()
                  << "' at " << s.at;
    }
};

struct Tuck : ::testing::Test {
    LanguageGuard language{AppLanguage::en};
    Harness h;
    AppModel *m = nullptr;
    QDateTime began;
    std::vector<Seen> seen;

    void SetUp() override
    {
        WindowSource::Application browser;
        browser.pid = 4242;
        browser.name = QStringLiteral("Firefox");
        browser.windows = {
            {11, QStringLiteral("Instagram — Firefox"), false, kFeed},
            {12, QStringLiteral("Release notes"), false, QRectF(0, 0, 300, 300)},
            {13, QStringLiteral("YouTube"), false, kVideos},
        };
        WindowSource::Application player;
        player.pid = 77;
        player.name = QStringLiteral("Player");
        player.windows = {{21, QStringLiteral("Shorts — TikTok"), false, kShorts}};
        h.windows.apps = {browser, player};
        m = &h.make();
        m->setEvents([this](const AppEvent &e) {
            seen.push_back({e.kind, e.frame, e.text, double(began.msecsTo(h.clock.now())) / 1000.0});
        });
        began = h.clock.now();
    }

    void arriveAt(const QRectF &frame) { m->tuckVisitArrived(CompanionGoal::visit(AppModel::visitLedge(frame))); }
    static Seen visit(const QRectF &f, double at) { return {AppEvent::Kind::visitWindow, f, {}, at}; }
    static Seen ended(const QRectF &f, double at) { return {AppEvent::Kind::visitEnded, f, {}, at}; }
    static Seen closing(double at) { return {AppEvent::Kind::say, {}, QStringLiteral("Feeds are tucked away. Back to it."), at}; }
    QStringList distractionIds() const
    {
        QStringList ids;
        for (const auto &w : m->distractions())
            ids << w.id;
        return ids;
    }
};

} // namespace

TEST_F(Tuck, ThreeWindowsAreVisitedOneAfterAnotherAsTheCatArrives)
{
    m->tuckAwayDistractions();
    EXPECT_EQ(distractionIds(), QStringList({"4242-0", "4242-2", "77-0"}));
    EXPECT_EQ(seen, std::vector<Seen>{visit(kFeed, 0)});

    h.clock.advanceSeconds(2);
    arriveAt(kFeed);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>{11});
    EXPECT_EQ(distractionIds(), QStringList({"4242-2", "77-0"}));
    h.clock.advance(699ms);
    EXPECT_EQ(seen.size(), 2u) << "the next visit waits 0.7 s";
    h.clock.advance(1ms);
    h.clock.advanceSeconds(3);
    arriveAt(kVideos);
    h.clock.advance(700ms);
    h.clock.advanceSeconds(1);
    arriveAt(kShorts);
    h.clock.advance(700ms);

    const std::vector<Seen> expected{visit(kFeed, 0),      ended(kFeed, 2),      visit(kVideos, 2.7),
                                     ended(kVideos, 5.7),  visit(kShorts, 6.4),  ended(kShorts, 7.4),
                                     closing(8.1)};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13, 21}));
    EXPECT_TRUE(m->distractions().empty()) << "no window of the scan is left";

    // The sequence is over: nothing is pending, and a stray arrival changes nothing.
    h.clock.advanceSeconds(30);
    arriveAt(kShorts);
    EXPECT_EQ(seen.size(), expected.size());
}

TEST_F(Tuck, ACatThatNeverArrivesLeavesEachWindowSevenSecondsAfterItsVisitBegan)
{
    m->tuckAwayDistractions();
    h.clock.advanceSeconds(60);
    const std::vector<Seen> expected{visit(kFeed, 0),     ended(kFeed, 7),      visit(kVideos, 7.7),
                                     ended(kVideos, 14.7), visit(kShorts, 15.4), ended(kShorts, 22.4),
                                     closing(23.1)};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13, 21}));
    EXPECT_EQ(h.clock.pending(), 0u) << "no fallback or pause is left behind";
}

TEST_F(Tuck, ALateLandingOfOneVisitNeverMinimisesTheNextWindowUnvisited)
{
    m->tuckAwayDistractions();
    h.clock.advanceSeconds(7); // the first visit runs out
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>{11});
    arriveAt(kFeed); // the cat lands there during the pause
    h.clock.advance(700ms);
    ASSERT_EQ(seen.back(), visit(kVideos, 7.7));
    arriveAt(kFeed); // ... or only once the next visit has begun
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>{11}) << "the videos window was never visited";
    EXPECT_EQ(seen.back(), visit(kVideos, 7.7));

    // Other goals are not visits; the visit under way is completed by its own arrival only.
    m->tuckVisitArrived(CompanionGoal{CompanionGoal::Kind::perch, {}});
    m->tuckVisitArrived(CompanionGoal{CompanionGoal::Kind::celebrate, {}});
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>{11});
    h.clock.advanceSeconds(1);
    arriveAt(kVideos);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13}));
    EXPECT_EQ(seen.back(), ended(kVideos, 8.7));
    // The arrival cancelled the videos visit's fallback: it does not fire at 14.7 s
    // on the shorts window, which gets its own full 7 s.
    h.clock.advanceSeconds(6);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13}));
    h.clock.advanceSeconds(1);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13}));
    h.clock.advance(700ms);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13, 21}));
}

TEST_F(Tuck, AWindowWithoutAPositionIsMinimisedAtOnceWithoutAVisit)
{
    h.windows.apps[0].windows[0].frame.reset();
    m->tuckAwayDistractions();
    EXPECT_EQ(seen, std::vector<Seen>{ended(QRectF(), 0)});
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>{11});
    h.clock.advance(700ms);
    EXPECT_EQ(seen.back(), visit(kVideos, 0.7));
}

TEST_F(Tuck, NothingStartsWithoutTheRightToMinimiseOrWithNothingFound)
{
    h.windows.isTrusted = false;
    m->tuckAwayDistractions();
    EXPECT_FALSE(m->accessibilityTrusted());
    h.clock.advanceSeconds(30);
    EXPECT_TRUE(seen.empty());

    h.windows.isTrusted = true;
    h.windows.apps = {};
    m->tuckAwayDistractions();
    EXPECT_TRUE(m->accessibilityTrusted());
    arriveAt(kFeed);
    h.clock.advanceSeconds(30);
    EXPECT_TRUE(seen.empty()) << "an arrival with no sequence running raises nothing";
    EXPECT_TRUE(h.windows.minimized.isEmpty());
}

TEST_F(Tuck, ANewRequestWhileTuckingStartsOverFromTheNewScan)
{
    m->tuckAwayDistractions();
    arriveAt(kFeed);
    h.clock.advance(300ms); // in the pause before the videos window
    h.windows.apps[0].windows[0].minimized = true; // the scan no longer finds the feed
    m->tuckAwayDistractions();
    EXPECT_EQ(seen.back(), visit(kVideos, 0.3));
    h.clock.advance(400ms);
    EXPECT_EQ(seen.back(), visit(kVideos, 0.3)) << "the old pause does not start a second visit";
    h.clock.advanceSeconds(60);
    EXPECT_EQ(h.windows.minimized, QList<uint64_t>({11, 13, 21}));
    EXPECT_EQ(seen.back(), closing(0.3 + 7 + 0.7 + 7 + 0.7));
}
