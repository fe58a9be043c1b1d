#include <gtest/gtest.h>

#include "companion/CompanionTypes.h"
#include "companion/CatLook.h"
#include "companion/CompanionVariant.h"
#include "companion/Ledge.h"

TEST(SeededGenerator, IsSplitMix64WithUnbiasedBoundedAndClosedUniformDraws)
{
    SeededGenerator g{0};
    EXPECT_EQ(g.next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(g.next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(g.next(), 0x06C45D188009454Full);

    SeededGenerator a{1234}, b{1234};
    for (int i = 0; i < 1000; ++i) {
        const auto v = a.next(7);
        ASSERT_LT(v, 7u);
        ASSERT_EQ(v, b.next(7));
        ASSERT_EQ(a.next(1), 0u);
        b.next(1);
        const double u = a.uniform(-3, 5);
        ASSERT_GE(u, -3);
        ASSERT_LE(u, 5);
        ASSERT_EQ(u, b.uniform(-3, 5));
    }
    // The bounded draw is the high half of the 128-bit product.
    SeededGenerator c{99}, d{99};
    const std::uint64_t raw = d.next();
    const auto expected = std::uint64_t((static_cast<unsigned __int128>(raw) * 1000) >> 64);
    EXPECT_EQ(c.next(1000), expected);
    // A uniform draw over a degenerate range is that value; 0 maps to a.
    EXPECT_EQ(c.uniform(2.5, 2.5), 2.5);
}

TEST(CompanionTypes, RawValuesAreExactlyTheCaseNames)
{
    const char *names[] = {"idle",  "groom", "walk",    "jump",   "fall",   "sleep",
                           "perch", "nest",  "stretch", "pounce", "carried"};
    for (size_t i = 0; i < kAllCompanionStates.size(); ++i) {
        EXPECT_EQ(rawValue(kAllCompanionStates[i]), QLatin1String(names[i]));
        EXPECT_EQ(companionStateFromRaw(QLatin1String(names[i])), kAllCompanionStates[i]);
    }
    EXPECT_FALSE(companionStateFromRaw(QStringLiteral("Idle")));
    EXPECT_FALSE(companionStateFromRaw(QString()));
    EXPECT_EQ(companionTemperFromRaw(QStringLiteral("lively")), CompanionTemper::lively);
    EXPECT_EQ(companionTemperFromRaw(QStringLiteral("calm")), CompanionTemper::calm);
    EXPECT_FALSE(companionTemperFromRaw(QStringLiteral("sleepy")));
    EXPECT_EQ(rawValue(CompanionTemper::lively), QStringLiteral("lively"));

    const char *looks[] = {"neutral", "happy", "concerned", "curious"};
    for (size_t i = 0; i < kAllCatLooks.size(); ++i) {
        EXPECT_EQ(rawValue(kAllCatLooks[i]), QLatin1String(looks[i]));
        EXPECT_EQ(catLookFromRaw(QLatin1String(looks[i])), kAllCatLooks[i]);
    }
    EXPECT_FALSE(catLookFromRaw(QStringLiteral("Happy")));
    EXPECT_FALSE(catLookFromRaw(QStringLiteral("sad")));
}

TEST(CompanionTypes, GoalsAndLedgesCompareFieldByField)
{
    const Ledge a{0, 100, 50, 3, 0};
    Ledge b = a;
    EXPECT_EQ(CompanionGoal::visit(a), CompanionGoal::visit(b));
    b.windowX.reset();
    EXPECT_NE(a, b);
    EXPECT_NE(CompanionGoal::visit(a), CompanionGoal::visit(b));
    EXPECT_NE(qHash(a), qHash(b));
    EXPECT_EQ(CompanionGoal::perch(), CompanionGoal::perch());
    EXPECT_NE(CompanionGoal::perch(), CompanionGoal::nest());

    // Worlds compare exactly, field by field, so a seeded run can be replayed against them.
    CompanionWorld w(QRectF(0, 0, 1440, 900), 70);
    w.ledges = {a};
    w.cursor = QPointF(10, 20);
    w.homeFrame = QRectF(100, 100, 600, 400);
    CompanionWorld v = w;
    EXPECT_EQ(w, v);
    v.homeFrame = QRectF(100, 100, 600, 400.000000000001); // within QRectF's own fuzzy ==
    EXPECT_NE(w, v);
    v = w;
    v.cursor.reset();
    EXPECT_NE(w, v);
    v = w;
    v.ceilingY = 875;
    EXPECT_NE(w, v);
    v = w;
    v.ledges[0].windowX.reset();
    EXPECT_NE(w, v);
    v = w;
    v.temper = CompanionTemper::lively;
    EXPECT_NE(w, v);
}

TEST(WindowTopology, TopEdgesAreCutByWindowsInFrontThatTheyCross)
{
    const WindowInfo back{1, 10, QStringLiteral("Back"), QRectF(0, 500, 1000, 300)}; // top at 800
    const WindowInfo front{2, 11, QStringLiteral("Front"), QRectF(300, 700, 200, 200)}; // y 700..900
    auto ledges = WindowTopology::ledges({front, back}, 90);
    ASSERT_EQ(ledges.size(), 3u);
    EXPECT_EQ(ledges[0], (Ledge{300, 500, 900, 2, 300}));
    EXPECT_EQ(ledges[1], (Ledge{0, 300, 800, 1, 0}));
    EXPECT_EQ(ledges[2], (Ledge{500, 1000, 800, 1, 0}));

    ledges = WindowTopology::ledges({front, back}, 350);
    ASSERT_EQ(ledges.size(), 1u);
    EXPECT_EQ(ledges[0], (Ledge{500, 1000, 800, 1, 0}));

    // A front window whose bottom or top lies exactly on the edge does not cut it.
    const WindowInfo touching{3, 12, QString(), QRectF(300, 800, 200, 100)};
    const WindowInfo below{4, 13, QString(), QRectF(300, 600, 200, 200)};
    ledges = WindowTopology::ledges({touching, below, back}, 90);
    ASSERT_EQ(ledges.size(), 3u);
    EXPECT_EQ(ledges[2], (Ledge{0, 1000, 800, 1, 0}));

    // Covered entirely: no ledge; empty input: none.
    const WindowInfo cover{5, 14, QString(), QRectF(-10, 700, 1100, 200)};
    ledges = WindowTopology::ledges({cover, back}, 90);
    ASSERT_EQ(ledges.size(), 1u);
    EXPECT_EQ(ledges[0].windowNumber, 5);
    EXPECT_TRUE(WindowTopology::ledges({}, 90).empty());
}

TEST(CompanionVariant, ClipsFallBackPerStateAndTheDrawnLookHasNone)
{
    const CompanionVariant &drawn = CompanionVariant::drawn();
    EXPECT_EQ(drawn.id, QStringLiteral("drawn"));
    EXPECT_FALSE(drawn.isFilmed());
    EXPECT_EQ(drawn.walkSpeed, 68);
    EXPECT_EQ(drawn.size, QSizeF(84, 62));
    for (auto state : kAllCompanionStates)
        EXPECT_FALSE(drawn.clip(state));

    auto clip = [](const char *file) {
        CompanionClip c;
        c.file = QString::fromLatin1(file);
        c.height = 80;
        return c;
    };
    CompanionVariant look{QStringLiteral("tabby"), QStringLiteral("Tabby"), QStringLiteral("/cats/tabby"), {}, 60,
                          {90, 70}};
    EXPECT_TRUE(look.isFilmed());
    look.clips = {{QStringLiteral("sleep"), clip("sleep.webm")}, {QStringLiteral("idle"), clip("idle.webm")}};
    EXPECT_EQ(look.clip(CompanionState::nest)->file, QStringLiteral("sleep.webm"));
    EXPECT_EQ(look.clip(CompanionState::perch)->file, QStringLiteral("idle.webm"));
    look.clips = {{QStringLiteral("walk"), clip("walk.webm")}};
    EXPECT_EQ(look.clip(CompanionState::jump)->file, QStringLiteral("walk.webm"));
    look.clips = {{QStringLiteral("dance"), clip("dance.webm")}};
    EXPECT_EQ(look.clip(CompanionState::sleep)->file, QStringLiteral("dance.webm"));

    // Every row of the table: each name is taken once those before it are gone,
    // and with none of them left some clip still is.
    const std::pair<CompanionState, QStringList> rows[] = {
        {CompanionState::idle, {"idle", "groom"}},
        {CompanionState::groom, {"groom", "idle"}},
        {CompanionState::walk, {"walk"}},
        {CompanionState::jump, {"air", "walk"}},
        {CompanionState::fall, {"air", "walk"}},
        {CompanionState::sleep, {"sleep", "idle"}},
        {CompanionState::perch, {"perch", "idle"}},
        {CompanionState::nest, {"nest", "sleep", "idle"}},
        {CompanionState::stretch, {"idle", "groom"}},
        {CompanionState::pounce, {"idle", "groom"}},
        {CompanionState::carried, {"air", "walk"}},
    };
    ASSERT_EQ(std::size(rows), std::size(kAllCompanionStates));
    for (const auto &[state, names] : rows) {
        SCOPED_TRACE(rawValue(state).toStdString());
        CompanionVariant full = look;
        full.clips.clear();
        for (const char *name : {"idle", "groom", "walk", "air", "sleep", "perch", "nest", "dance"}) {
            const QByteArray file = QByteArray(name) + ".webm";
            full.clips[QLatin1String(name)] = clip(file.constData());
        }
        for (const QString &name : names) {
            const auto chosen = full.clip(state);
            ASSERT_TRUE(chosen);
            EXPECT_EQ(chosen->file, name + QStringLiteral(".webm"));
            full.clips.erase(name);
        }
        EXPECT_TRUE(full.clip(state)) << "a look with clips always gives one";
    }

    CompanionClip wide = clip("x");
    wide.pixelWidth = 400;
    wide.pixelHeight = 0; // a broken manifest never divides by zero
    EXPECT_EQ(wide.drawnWidth(), 80 * 400);
}
