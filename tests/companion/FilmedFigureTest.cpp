#include <gtest/gtest.h>

#include "base/Clock.h"
#include "companion/FilmedFigure.h"
#include "companion/CompanionPanel.h"
#include "companion/FilmedPainter.h"
#include "companion/LookPicture.h"
#include "support/TestSupport.h"

#include "AnimatedWebP.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QThreadPool>

#include <cmath>
#include <map>

namespace {

// A player whose readiness the test decides. Its frame is one solid colour.
class FakePlayer final : public ClipPlayer {
public:
    explicit FakePlayer(QColor c) : color(c) {}
    bool isReady() const override { return ready; }
    void restart() override { ++restarts; }
    void play(double r) override
    {
        playing = true;
        rate = r;
    }
    void pause() override { playing = false; }
    bool isPlaying() const override { return playing; }
    QImage currentFrame() override
    {
        QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
        image.fill(color);
        return ready ? image : QImage();
    }
    std::optional<double> secondsToNextFrame() const override { return std::nullopt; }
    qint64 memoryBytes() const override { return holds; }
    void releaseMemory() override
    {
        holds = 0;
        ++releases;
    }
    void becomeReady()
    {
        ready = true;
        becameReady();
    }

    QColor color;
    bool ready = false;
    bool playing = false;
    double rate = 0;
    int restarts = 0;
    qint64 holds = 0; // decoded bytes it claims to keep
    int releases = 0;
};

class FakeSource final : public ClipSource {
public:
    std::unique_ptr<ClipPlayer> open(const QString &path) override
    {
        ++opened;
        auto player = std::make_unique<FakePlayer>(QColor::fromHsv((opened * 70) % 360, 255, 255));
        player->ready = readyAtOnce.contains(QFileInfo(path).fileName());
        players[QFileInfo(path).fileName()] = player.get();
        paths.append(path);
        return player;
    }
    FakePlayer &operator[](const char *file) { return *players.at(QLatin1String(file)); }

    QSet<QString> readyAtOnce;
    std::map<QString, FakePlayer *> players;
    QStringList paths;
    int opened = 0;
};

CompanionClip clip(const char *file, std::optional<float> rate = std::nullopt)
{
    CompanionClip c;
    c.file = QLatin1String(file);
    c.height = 86;
    c.pixelWidth = 216;
    c.pixelHeight = 172;
    c.rate = rate;
    return c;
}

CompanionVariant look(const char *id, const QString &folder = QStringLiteral("/looks/tabby"))
{
    CompanionVariant v;
    v.id = QLatin1String(id);
    v.folder = folder;
    return v;
}

} // namespace

TEST(FilmedFigure, ANewClipShowsOnlyOnceReadyAndAMissingOneNeverReplacesTheShownOne)
{
    auto source = std::make_shared<FakeSource>();
    source->readyAtOnce = {QStringLiteral("idle.webp")};
    FilmedFigure figure(source);
    int changes = 0;
    figure.shownChanged = [&] { ++changes; };
    figure.load(look("tabby"));

    figure.show(clip("idle.webp", 1.5f), false, 0, false);
    EXPECT_EQ(figure.showing(), QStringLiteral("idle.webp"));
    EXPECT_EQ(source->paths, QStringList{"/looks/tabby/idle.webp"});
    EXPECT_TRUE((*source)["idle.webp"].playing);
    EXPECT_EQ((*source)["idle.webp"].rate, 1.5);
    EXPECT_EQ(changes, 1);

    // A clip whose file is missing never becomes ready: the shown one stays and plays.
    figure.show(clip("walk.webp"), true, 0, false);
    EXPECT_EQ(figure.showing(), QStringLiteral("idle.webp"));
    EXPECT_EQ(figure.wanted(), QStringLiteral("walk.webp"));
    EXPECT_TRUE((*source)["idle.webp"].playing);
    EXPECT_EQ((*source)["walk.webp"].restarts, 1);
    figure.show(clip("walk.webp"), true, 0, false); // on its way already: nothing again
    EXPECT_EQ((*source)["walk.webp"].restarts, 1);
    EXPECT_EQ(source->opened, 2);

    // Asking for the shown clip again withdraws the wish for the other: when that
    // one becomes ready later it does not replace what was asked for last.
    figure.show(clip("idle.webp", 1.5f), false, 0, false);
    EXPECT_EQ(figure.showing(), QStringLiteral("idle.webp"));
    EXPECT_FALSE(figure.wanted());
    EXPECT_FALSE((*source)["walk.webp"].playing);
    (*source)["walk.webp"].becomeReady();
    EXPECT_EQ(figure.showing(), QStringLiteral("idle.webp"));
    EXPECT_EQ(changes, 1);

    // Asked for again, the now ready clip starts over and shows at once; the old one pauses.
    figure.show(clip("walk.webp"), true, 0, false);
    EXPECT_EQ(figure.showing(), QStringLiteral("walk.webp"));
    EXPECT_EQ((*source)["walk.webp"].restarts, 2);
    EXPECT_TRUE((*source)["walk.webp"].playing);
    EXPECT_FALSE((*source)["idle.webp"].playing);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(source->opened, 2) << "reels stay once made";

    // Hidden reels keep their frames within the budget; past it, the reel hidden
    // longest lets go first, and no more reels than it takes.
    const qint64 third = FilmedFigure::kHiddenBudgetBytes / 3 + 1;
    source->readyAtOnce = {QStringLiteral("a.webp"), QStringLiteral("b.webp")};
    (*source)["idle.webp"].holds = third;
    (*source)["walk.webp"].holds = third;
    figure.show(clip("a.webp"), false, 0, false); // hidden: idle, walk
    (*source)["a.webp"].holds = third;
    EXPECT_EQ((*source)["idle.webp"].releases + (*source)["walk.webp"].releases, 0) << "within the budget";
    figure.show(clip("b.webp"), false, 0, false); // hidden: idle, walk, a
    EXPECT_EQ((*source)["idle.webp"].releases, 1) << "hidden longest";
    EXPECT_EQ((*source)["walk.webp"].releases + (*source)["a.webp"].releases, 0);
    (*source)["b.webp"].holds = third;
    figure.show(clip("idle.webp", 1.5f), false, 0, false); // hidden: walk, a, b
    (*source)["idle.webp"].holds = third;
    EXPECT_EQ((*source)["walk.webp"].releases, 1) << "now hidden longest";
    EXPECT_EQ((*source)["a.webp"].releases + (*source)["b.webp"].releases, 0);
    EXPECT_EQ((*source)["idle.webp"].releases, 1) << "the shown reel keeps its frames";
}

TEST(FilmedFigure, OnlyTheLastWishIsRevealedAndPausingHoldsTheFirstFrame)
{
    auto source = std::make_shared<FakeSource>();
    FilmedFigure figure(source);
    figure.load(look("tabby"));
    figure.show(clip("a.webp"), false, 0, false);
    figure.show(clip("b.webp"), false, 0, false);
    EXPECT_FALSE(figure.hasPicture()) << "nothing is ready yet";
    EXPECT_EQ(figure.wanted(), QStringLiteral("b.webp"));
    EXPECT_FALSE((*source)["a.webp"].playing) << "an abandoned wish stops";
    (*source)["a.webp"].becomeReady();
    EXPECT_FALSE(figure.showing());
    (*source)["b.webp"].becomeReady();
    EXPECT_EQ(figure.showing(), QStringLiteral("b.webp"));
    EXPECT_FALSE(figure.wanted());

    // A new clip asked for held still starts playing, and is paused the moment it
    // shows, on its first frame.
    figure.show(clip("c.webp", 2.f), false, 0, true);
    EXPECT_TRUE(figure.holdStill());
    EXPECT_TRUE((*source)["c.webp"].playing);
    EXPECT_EQ((*source)["c.webp"].rate, 2);
    EXPECT_TRUE((*source)["b.webp"].playing) << "the shown clip plays on until it is replaced";
    (*source)["c.webp"].becomeReady();
    EXPECT_EQ(figure.showing(), QStringLiteral("c.webp"));
    EXPECT_FALSE((*source)["c.webp"].playing);
    EXPECT_FALSE((*source)["b.webp"].playing);

    // The shown clip resumes at its rate, where it was held, and pauses again on
    // request; only a clip shown anew starts over.
    const int restarts = (*source)["c.webp"].restarts;
    EXPECT_EQ(restarts, 1);
    figure.show(clip("c.webp", 2.f), false, 0, false);
    EXPECT_TRUE((*source)["c.webp"].playing);
    EXPECT_EQ((*source)["c.webp"].rate, 2);
    figure.show(clip("c.webp", 2.f), false, 0, true);
    EXPECT_FALSE((*source)["c.webp"].playing);
    figure.show(clip("c.webp"), false, 0, false);
    EXPECT_EQ((*source)["c.webp"].rate, 1) << "no rate in the clip: 1";
    EXPECT_EQ((*source)["c.webp"].restarts, restarts) << "a resumed clip keeps its place";
    figure.pauseAll();
    EXPECT_FALSE((*source)["c.webp"].playing);
}

TEST(FilmedFigure, LooksReplaceTheirReelsAndTheDrawnLookShowsNothing)
{
    auto source = std::make_shared<FakeSource>();
    source->readyAtOnce = {QStringLiteral("idle.webp"), QStringLiteral("walk.webp")};
    FilmedFigure figure(source);
    figure.load(look("tabby"));
    figure.show(clip("idle.webp"), false, 0, false);
    figure.show(clip("walk.webp"), false, 0, false);
    figure.show(clip("sleep.webp"), false, 0, false);
    EXPECT_EQ(figure.reelCount(), 3);

    figure.load(look("tabby", QStringLiteral("/elsewhere"))); // the same look id: kept
    EXPECT_EQ(figure.reelCount(), 3);
    EXPECT_EQ(figure.showing(), QStringLiteral("walk.webp"));

    FakePlayer &late = (*source)["sleep.webp"];
    figure.load(look("socks", QStringLiteral("/looks/socks")));
    EXPECT_EQ(figure.reelCount(), 0);
    EXPECT_FALSE(figure.showing());
    EXPECT_FALSE(figure.wanted());
    (void)late; // dropped with its reel: its readiness can no longer reach the figure

    figure.show(clip("idle.webp"), false, 0, false);
    EXPECT_EQ(source->paths.last(), QStringLiteral("/looks/socks/idle.webp"));

    // A clip file that is not a plain name is never opened; nor is anything for the drawn look.
    const int opened = source->opened;
    figure.show(clip("../tabby/idle.webp"), false, 0, false);
    figure.load(CompanionVariant::drawn());
    figure.show(clip("idle.webp"), false, 0, false);
    EXPECT_EQ(source->opened, opened);
    EXPECT_FALSE(figure.hasPicture());
}

namespace {

// The frame painted into a 100 x 100 picture: one quadrant marked, to see where it lands.
QImage painted(FilmedFigure &figure, QRectF frame = QRectF(0, 0, 100, 100))
{
    QImage out(100, 100, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    figure.paint(p, frame);
    return out;
}

class MarkedPlayer final : public ClipPlayer {
public:
    bool isReady() const override { return true; }
    void restart() override {}
    void play(double) override {}
    void pause() override {}
    bool isPlaying() const override { return true; }
    // One frame, the same image each time, as a player that keeps its frames gives.
    QImage currentFrame() override
    {
        if (m_frame.isNull()) {
            m_frame = QImage(80, 80, QImage::Format_ARGB32_Premultiplied);
            m_frame.fill(Qt::blue);
            QPainter(&m_frame).fillRect(0, 0, 40, 40, Qt::red); // top left
        }
        return m_frame;
    }
    std::optional<double> secondsToNextFrame() const override { return std::nullopt; }

private:
    QImage m_frame;
};

class MarkedSource final : public ClipSource {
public:
    std::unique_ptr<ClipPlayer> open(const QString &) override { return std::make_unique<MarkedPlayer>(); }
};

} // namespace

TEST(FilmedFigure, PaintsMirroredAndTiltedAboutTheCentreAndFitsTheFrame)
{
    FilmedFigure figure(std::make_shared<MarkedSource>());
    figure.load(look("tabby"));
    struct Case {
        bool mirrored;
        double tilt;
        QPoint red;
    };
    // Tilt turns counter-clockwise on screen; a mirrored picture is turned first.
    // The same frame fitted to the frame's size is made once each way round.
    for (const Case &c : {Case{false, 0, {20, 20}}, Case{true, 0, {80, 20}}, Case{false, 0, {20, 20}},
                          Case{false, 90, {20, 80}}, Case{true, 90, {80, 80}}, Case{false, -90, {80, 20}},
                          Case{true, 0, {80, 20}}}) {
        figure.show(clip("idle.webp"), c.mirrored, c.tilt, false);
        const QImage image = painted(figure);
        EXPECT_EQ(image.pixelColor(c.red), QColor(Qt::red)) << c.mirrored << " " << c.tilt;
        EXPECT_EQ(image.pixelColor(QPoint(100, 100) - c.red), QColor(Qt::blue)) << c.mirrored << " " << c.tilt;
    }
    // Tilt 10, mirrored: a little way round from the plain mirror image.
    figure.show(clip("idle.webp"), true, 10, false);
    const QImage tilted = painted(figure);
    EXPECT_EQ(tilted.pixelColor(90, 55), QColor(Qt::red)) << "turned clockwise on screen";
    EXPECT_EQ(tilted.pixelColor(55, 10), QColor(Qt::blue));
    // A square picture in a wide frame: centred, as tall as the frame.
    figure.show(clip("idle.webp"), false, 0, false);
    const QImage fitted = painted(figure, QRectF(0, 25, 100, 50));
    EXPECT_EQ(fitted.pixelColor(10, 50).alpha(), 0);
    EXPECT_EQ(fitted.pixelColor(30, 30), QColor(Qt::red));
    EXPECT_EQ(fitted.pixelColor(70, 70), QColor(Qt::blue));

    // Pixel for pixel on a 2x screen, the frame is copied unchanged (mirrored as asked)
    // at the nearest whole pixel.
    QImage screen(120, 120, QImage::Format_ARGB32_Premultiplied);
    screen.setDevicePixelRatio(2);
    for (bool mirrored : {false, true}) {
        figure.show(clip("idle.webp"), mirrored, 0, false);
        screen.fill(Qt::transparent);
        QPainter p(&screen);
        figure.paint(p, QRectF(10.2, 9.9, 40, 40));
        p.end();
        const QImage source = MarkedPlayer().currentFrame();
        const QImage expected = mirrored ? source.mirrored(true, false) : source;
        EXPECT_EQ(screen.copy(20, 20, 80, 80).convertToFormat(expected.format()), expected) << mirrored;
        EXPECT_EQ(screen.pixelColor(19, 50).alpha(), 0);
    }
}

namespace {

QString fixtureDir()
{
    static const QString dir = [] {
        const QString d = zktest::tempDir() + QStringLiteral("/clips");
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}

QImage solid(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(QRect(QPoint(2, 2), size - QSize(4, 4)), color);
    return image;
}

QString writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = fixtureDir() + u'/' + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

// Red for 100 ms, green for 200 ms, blue for 300 ms, a clear border round each.
QByteArray threeColours(QSize size = QSize(24, 16))
{
    return AnimatedWebP::encode(
        {{solid(size, Qt::red), 100}, {solid(size, Qt::green), 200}, {solid(size, Qt::blue), 300}});
}

// Lets every decoding finish and its result arrive.
void settle()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(WebPClips, PlayLoopingOnTheClockWithTheirAlphaAndTheirOwnFrameTimes)
{
    writeFile(QStringLiteral("three.webp"), threeColours());
    FakeClock clock;
    WebPClipSource source(&clock);
    auto player = source.open(fixtureDir() + QStringLiteral("/three.webp"));
    bool told = false;
    player->setReadyCallback([&] { told = true; });
    ASSERT_TRUE(zktest::spinUntil([&] { return player->isReady(); }));
    EXPECT_TRUE(told);

    player->restart();
    player->play(1);
    auto colourAt = [&](double seconds) {
        clock.advanceSeconds(seconds);
        const QImage frame = player->currentFrame();
        EXPECT_EQ(frame.pixelColor(0, 0).alpha(), 0) << "alpha kept";
        return frame.pixelColor(12, 8);
    };
    EXPECT_EQ(colourAt(0), QColor(Qt::red));
    EXPECT_EQ(player->secondsToNextFrame(), 0.1);
    EXPECT_EQ(colourAt(0.15), QColor(Qt::green));
    EXPECT_EQ(colourAt(0.2), QColor(Qt::blue)); // 0.35
    EXPECT_EQ(colourAt(0.3), QColor(Qt::red));  // 0.65: round again, seamlessly
    EXPECT_EQ(colourAt(0.2), QColor(Qt::green)); // 0.85 -> 0.25
    // Held in the middle of the loop, never at its start, so a pause that lost
    // its place would show.
    player->pause();
    EXPECT_EQ(colourAt(5), QColor(Qt::green)) << "held where it was";
    EXPECT_FALSE(player->secondsToNextFrame());
    player->pause(); // a second pause keeps the place too
    EXPECT_EQ(colourAt(1), QColor(Qt::green));
    player->play(2); // on from where it held, twice as fast
    ASSERT_TRUE(player->secondsToNextFrame());
    EXPECT_NEAR(*player->secondsToNextFrame(), 0.025, 1e-9); // 0.05 of green left, at twice the speed
    EXPECT_EQ(colourAt(0.04), QColor(Qt::blue)); // 0.25 + 0.08 = 0.33
    player->restart();
    EXPECT_EQ(colourAt(0), QColor(Qt::red));

    // A rate of 0 or below, or none at all, plays the clip at its own speed.
    for (double rate : {0.0, -2.0, std::nan("")}) {
        player->pause();
        player->restart();
        player->play(rate);
        EXPECT_EQ(colourAt(0.15), QColor(Qt::green)) << rate;
        ASSERT_TRUE(player->secondsToNextFrame()) << rate;
        EXPECT_NEAR(*player->secondsToNextFrame(), 0.15, 1e-9) << rate;
    }

    // A frame of 10 ms or less shows for a tenth of a second; 11 ms is its own.
    writeFile(QStringLiteral("quick.webp"),
              AnimatedWebP::encode({{solid(QSize(24, 16), Qt::red), 10},
                                    {solid(QSize(24, 16), Qt::green), 11},
                                    {solid(QSize(24, 16), Qt::blue), 1}}));
    auto quick = source.open(fixtureDir() + QStringLiteral("/quick.webp"));
    ASSERT_TRUE(zktest::spinUntil([&] { return quick->isReady(); })) << "quick.webp never became ready";
    quick->restart();
    quick->play(1);
    auto quickAt = [&](double seconds) {
        clock.advanceSeconds(seconds);
        return quick->currentFrame().pixelColor(12, 8);
    };
    EXPECT_EQ(quickAt(0.099), QColor(Qt::red));
    EXPECT_EQ(quickAt(0.002), QColor(Qt::green)); // 0.101
    EXPECT_EQ(quickAt(0.011), QColor(Qt::blue));  // 0.112
    EXPECT_EQ(quickAt(0.097), QColor(Qt::blue));  // 0.209
    EXPECT_EQ(quickAt(0.003), QColor(Qt::red));   // 0.212: round again after 0.211

    // Let go of, its frames are made again when it is asked to play.
    player->releaseMemory();
    EXPECT_FALSE(player->isReady());
    EXPECT_EQ(player->memoryBytes(), 0);
    player->play(1);
    ASSERT_TRUE(zktest::spinUntil([&] { return player->isReady(); }));
    EXPECT_EQ(player->memoryBytes(), 3 * 24 * 16 * 4);
}

TEST(WebPClips, BrokenMissingAndOversizedClipsNeverBecomeReady)
{
    const QByteArray good = threeColours();
    // The canvas size sits in the VP8X chunk (width - 1 and height - 1, 24 bits each).
    QByteArray huge = good;
    for (int i = 24; i < 30; ++i)
        huge[i] = char(0xff); // 16777216 x 16777216
    struct Case {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty.webp", QByteArray()},
        {"noise.webp", QByteArray(4000, 'x')},
        {"huge-canvas.webp", huge},
        {"cut-short.webp", good.left(good.size() - 40)},
        {"cut-header.webp", good.left(20)},
        {"still-png.webp", [] {
             QByteArray png;
             QBuffer b(&png);
             b.open(QIODevice::WriteOnly);
             solid(QSize(8, 8), Qt::red).save(&b, "PNG");
             return png;
         }()},
        {"too-many-frames.webp", [] {
             QList<AnimatedWebP::Frame> frames(WebPClipSource::kMaxFrames + 1, {solid({4, 4}, Qt::red), 20});
             return AnimatedWebP::encode(frames);
         }()},
        // Frames that together pass what one clip may keep: 1100 x 1100 x 4 bytes x 4 frames.
        {"too-much.webp", AnimatedWebP::encode({{solid({1100, 1100}, Qt::red), 100},
                                                {solid({1100, 1100}, Qt::green), 100},
                                                {solid({1100, 1100}, Qt::blue), 100},
                                                {solid({1100, 1100}, Qt::red), 100}})},
    };
    FakeClock clock;
    WebPClipSource source(&clock);
    for (const Case &c : cases) {
        writeFile(QLatin1String(c.name), c.bytes);
        auto player = source.open(fixtureDir() + u'/' + QLatin1String(c.name));
        player->play(1);
        settle();
        EXPECT_FALSE(player->isReady()) << c.name;
        EXPECT_TRUE(player->currentFrame().isNull()) << c.name;
    }
    auto missing = source.open(fixtureDir() + QStringLiteral("/no-such.webp"));
    settle();
    EXPECT_FALSE(missing->isReady());

    // Through the figure: the broken clip never replaces the good one.
    const QString folder = fixtureDir();
    FilmedFigure figure(std::make_shared<WebPClipSource>(&clock));
    CompanionVariant tabby = look("tabby", folder);
    // Written before the figure asks for it: the decoding starts at once, off the main thread.
    writeFile(QStringLiteral("three.webp"), good);
    figure.load(tabby);
    figure.show(clip("three.webp"), false, 0, false);
    settle();
    ASSERT_EQ(figure.showing(), QStringLiteral("three.webp"));
    figure.show(clip("noise.webp"), false, 0, false);
    settle();
    EXPECT_EQ(figure.showing(), QStringLiteral("three.webp"));
    EXPECT_EQ(figure.wanted(), QStringLiteral("noise.webp"));
    EXPECT_EQ(painted(figure).pixelColor(50, 50), QColor(Qt::red));
}

TEST(LookPicture, RefusesEmptyBrokenAndHugePicturesBeforeDecoding)
{
    QByteArray png;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        solid(QSize(30, 20), Qt::red).save(&b, "PNG");
    }
    EXPECT_EQ(LookPicture::load(writeFile(QStringLiteral("face.png"), png)).size(), QSize(30, 20));
    EXPECT_TRUE(LookPicture::load(writeFile(QStringLiteral("empty.png"), QByteArray())).isNull());
    EXPECT_TRUE(LookPicture::load(writeFile(QStringLiteral("cut.png"), png.left(40))).isNull());
    EXPECT_TRUE(LookPicture::load(fixtureDir() + QStringLiteral("/none.png")).isNull());
    // A header claiming 16777216 x 16777216 pixels.
    QByteArray huge = threeColours();
    for (int i = 24; i < 30; ++i)
        huge[i] = char(0xff);
    EXPECT_TRUE(LookPicture::load(writeFile(QStringLiteral("huge.webp"), huge)).isNull());
    // A PNG header claiming 0 x 0: not a picture.
    QByteArray zero = png;
    for (int i = 16; i < 24; ++i)
        zero[i] = 0;
    EXPECT_TRUE(LookPicture::load(writeFile(QStringLiteral("zero.png"), zero)).isNull());
}

TEST(FilmedPainter, AHeldClipThatBecomesReadyLaterAsksThePanelsToPaintAgain)
{
    // A sleeping cat's clip is held still, so nothing else would paint the
    // panels again when the new clip's first frame arrives.
    auto source = std::make_shared<FakeSource>();
    source->readyAtOnce = {QStringLiteral("idle.webp")};
    FilmedPainter painter(source);
    int repaints = 0;
    painter.repaint = [&] { ++repaints; };
    QImage canvas(200, 120, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    FilmedPlacement idle{clip("idle.webp"), QPointF(100, 60), false, 0};
    painter.paint(p, look("tabby"), idle, QRectF(0, 0, 200, 120), false);
    const int afterFirst = repaints;
    FilmedPlacement sleep{clip("sleep.webp"), QPointF(100, 60), false, 0};
    painter.paint(p, look("tabby"), sleep, QRectF(0, 0, 200, 120), true);
    EXPECT_EQ(painter.figure().showing(), QStringLiteral("idle.webp")) << "the held clip is not ready yet";
    EXPECT_EQ(repaints, afterFirst);
    (*source)["sleep.webp"].becomeReady();
    EXPECT_EQ(painter.figure().showing(), QStringLiteral("sleep.webp"));
    EXPECT_EQ(repaints, afterFirst + 1);
}

TEST(FilmedPainter, APlayingFilmIsDrawnAgainOnlyWhenItsPictureChanges)
{
    // A cat that sits still draws its film's own frames (a tenth, a fifth and
    // three tenths of a second here), not a frame for every tick between them.
    writeFile(QStringLiteral("three.webp"), threeColours());
    FakeClock clock;
    auto painter = std::make_shared<FilmedPainter>(std::make_shared<WebPClipSource>(&clock));
    const CompanionScreen screen{QRectF(0, 0, 400, 300), QRectF(0, 0, 400, 300), nullptr};
    CompanionPanel panel(screen, QRect(0, 0, 1, 1), CompanionPanel::Kind::catWindow);
    panel.setFilmedPainter(painter);
    CompanionClip three = clip("three.webp");
    three.height = 16;
    three.pixelWidth = 24;
    three.pixelHeight = 16;
    CompanionPanel::Frame frame;
    frame.variant = look("tabby", fixtureDir());
    frame.scene.catShown = true;
    frame.scene.figureFrame = QRectF(188, 142, 24, 16);
    frame.scene.filmed = FilmedPlacement{three, QPointF(200, 150), false, 0};
    frame.filmPlaying = true;
    const auto present = [&] {
        frame.filmPicture = painter->pictureShown();
        panel.present(frame);
        return !panel.lastDirty().isEmpty();
    };
    painter->repaint = [&] { panel.repaintFigure(); };
    present();
    EXPECT_TRUE(panel.shape().empty()) << "nothing to show before the clip is ready";
    ASSERT_TRUE(zktest::spinUntil([&] { return painter->figure().hasPicture(); })) << "the clip never became ready";
    // Without a compositor the window's picture is made when presented: the
    // clip that became ready is on it at once, even held still.
    EXPECT_FALSE(panel.shape().empty()) << "the ready clip is not on the cat's window";
    present();
    int drawn = 0;
    for (int tick = 0; tick < 19; ++tick) { // 0.63 s of 30 Hz ticks: round the film and back to red
        clock.advance(std::chrono::milliseconds(1000 / 30));
        drawn += present();
    }
    EXPECT_EQ(drawn, 3) << "green, blue and red again, each once";
}
