// The cat's portraits: face pictures read once and their fallbacks, the drawn
// cat in the circle, and the head film's crop.

#include "AskTestSupport.h"

#include "ask/CatFace.h"
#include "base/Bundle.h"
#include "base/Clock.h"
#include "companion/ClipSource.h"
#include "companion/CompanionLibrary.h"
#include "design/PaletteColors.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace asktest;

namespace {

void picture(const QString &path, QColor color)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(path)) << qPrintable(path);
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    f.write(bytes);
}

QByteArray manifest(const QString &id)
{
    return QStringLiteral(R"({"id": "%1", "name": {"en": "Cat %1"}, "walkSpeed": 60, "width": 84, "height": 62,
        "clips": {"idle": {"file": "idle.webp", "height": 80, "pixelWidth": 216, "pixelHeight": 172,
        "floor": 0.86, "facing": 1, "head": {"x": 94, "y": 26, "size": 88}}}})")
        .arg(id)
        .toUtf8();
}

// A bundle of its own for each test, with looks named after the test.
struct Looks {
    // A folder of its own: the catalogue is read once per folder.
    QString root = zktest::tempDir() + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces);
    Bundle bundle{root};
    Looks() { Bundle::setShared(&bundle); }
    ~Looks() { Bundle::setShared(nullptr); }
    QString folder(const QString &id) const { return root + QStringLiteral("/Cats/") + id; }
};

QImage rendered(QWidget &widget)
{
    widget.resize(widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(CatFace, AFacePictureIsReadOnceAndAMissingOneIsLookedForAgain)
{
    Looks looks;
    picture(looks.folder("once") + "/face-happy.png", Qt::red);
    write(looks.folder("once") + "/manifest.json", manifest("once"));

    const QImage first = CatFace::face(QStringLiteral("once"), CatLook::happy);
    ASSERT_FALSE(first.isNull());
    ASSERT_TRUE(QFile::remove(looks.folder("once") + "/face-happy.png"));
    // A second portrait of the same look and expression does not go to the disk.
    CatFace again(QStringLiteral("once"), CatLook::happy, 30);
    EXPECT_TRUE(again.showsPicture());
    EXPECT_EQ(rendered(again).pixelColor(15, 15), QColor(Qt::red));

    // No picture at all for curious (nor a neutral one, nor face.jpg): the drawn cat, and no memory of it.
    EXPECT_TRUE(CatFace::face(QStringLiteral("once"), CatLook::curious).isNull());
    picture(looks.folder("once") + "/face-curious.png", Qt::blue);
    EXPECT_EQ(CatFace::face(QStringLiteral("once"), CatLook::curious).pixelColor(0, 0), QColor(Qt::blue));
}

TEST(CatFace, AMissingExpressionFallsBackToTheNeutralFaceThenTheDrawnCat)
{
    Looks looks;
    write(looks.folder("fallback") + "/manifest.json", manifest("fallback"));
    picture(looks.folder("fallback") + "/face-neutral.png", Qt::green);
    EXPECT_EQ(CatFace::face(QStringLiteral("fallback"), CatLook::concerned).pixelColor(0, 0), QColor(Qt::green));

    // An unreadable picture is no picture.
    write(looks.folder("broken") + "/manifest.json", manifest("broken"));
    write(looks.folder("broken") + "/face-happy.png", "not a picture");
    EXPECT_TRUE(CatFace::face(QStringLiteral("broken"), CatLook::happy).isNull());
    CatFace broken(QStringLiteral("broken"), CatLook::happy, 44);
    EXPECT_FALSE(broken.showsPicture());
}

TEST(CatFace, TheDrawnLookShowsTheDrawnCatSmallerAndLowOnWarmPaper)
{
    // 84 x 62 scaled by size / 96, centred, then lowered by 8 % of the size.
    const QRectF at30 = CatFace::drawnFrame(30);
    EXPECT_DOUBLE_EQ(at30.width(), 84 * 30 / 96.0);
    EXPECT_DOUBLE_EQ(at30.height(), 62 * 30 / 96.0);
    EXPECT_DOUBLE_EQ(at30.center().x(), 15);
    EXPECT_DOUBLE_EQ(at30.center().y(), 15 + 2.4);

    CatFace drawn(QStringLiteral("drawn"), CatLook::happy, 44);
    EXPECT_FALSE(drawn.showsPicture());
    const QImage image = rendered(drawn);
    EXPECT_EQ(image.size(), QSize(44, 44));
    // Outside the circle nothing; at its top, inside, the warm paper.
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(image.pixelColor(22, 3).rgb(), PaletteColors::color(ZephylPalette::Color::warmPaper).rgb());
    // The cat is drawn across the middle.
    EXPECT_NE(image.pixelColor(22, 26).rgb(), PaletteColors::color(ZephylPalette::Color::warmPaper).rgb());
}

TEST(CatFace, AnEnteringFaceGrowsFromItsBottomAndFadesInOnTheSpring)
{
    FakeClock clock;
    Clock::setShared(&clock);
    const QColor paper = PaletteColors::color(ZephylPalette::Color::warmPaper);
    {
        CatFace face(QStringLiteral("drawn"), CatLook::curious, 30);
        EXPECT_EQ(face.entrance(), 1.0) << "a face that does not enter is simply there";
        face.enter(SpringAnimation{0.34, 0.72, 0});
        EXPECT_EQ(face.entrance(), 0.0);
        // At the start nothing shows: no size, no opacity.
        EXPECT_EQ(rendered(face).pixelColor(15, 27).alpha(), 0);

        // Part way: 0.55 of the side or more, standing on the bottom edge; the
        // top of the circle not yet reached, the bottom already painted.
        clock.advance(std::chrono::milliseconds(48));
        const double in = face.entrance();
        EXPECT_GT(in, 0.0);
        EXPECT_LT(in, 1.0);
        QImage image = rendered(face);
        EXPECT_EQ(image.pixelColor(15, 1).alpha(), 0);
        EXPECT_GT(image.pixelColor(15, 27).alpha(), 0);
        EXPECT_LT(image.pixelColor(15, 27).alpha(), 255);

        // A spring of damping 0.72 overshoots before it settles.
        double most = 0;
        for (int i = 0; i < 60; ++i) {
            clock.advance(std::chrono::milliseconds(16));
            most = std::max(most, face.entrance());
        }
        EXPECT_GT(most, 1.0);
        EXPECT_EQ(face.entrance(), 1.0);
        image = rendered(face);
        EXPECT_EQ(image.pixelColor(15, 2).rgb(), paper.rgb());
        EXPECT_EQ(image.pixelColor(15, 2).alpha(), 255);
    }
    Clock::setShared(nullptr);
}

TEST(CatHeadFilm, TheHeadBoxFillsThePortrait)
{
    CompanionClip clip;
    clip.pixelWidth = 1000;
    clip.pixelHeight = 800;
    const QRectF frame = CatHeadFilm::clipFrame(clip, {200, 100, 250}, 44);
    EXPECT_NEAR(frame.width(), 176, 1e-9);
    EXPECT_NEAR(frame.height(), 140.8, 1e-9);
    EXPECT_NEAR(frame.center().x(), 52.8, 1e-9);
    EXPECT_NEAR(frame.center().y(), 52.8, 1e-9);

    // A head box under a pixel counts as one pixel.
    const QRectF tiny = CatHeadFilm::clipFrame(clip, {10, 10, 0.5}, 44);
    EXPECT_NEAR(tiny.width(), 44000, 1e-6);
    EXPECT_NEAR(tiny.center().x(), 22 + 44 * (500 - 10.25), 1e-6);
}

// A clip that is one flat colour, counting whether it plays.
class FlatPlayer final : public ClipPlayer {
public:
    explicit FlatPlayer(int *playing) : m_playing(playing) {}
    bool isReady() const override { return true; }
    void restart() override {}
    void play(double) override { *m_playing = 1; }
    void pause() override { *m_playing = 0; }
    bool isPlaying() const override { return *m_playing == 1; }
    QImage currentFrame() override
    {
        QImage frame(216, 172, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::magenta);
        return frame;
    }
    std::optional<double> secondsToNextFrame() const override
    {
        return isPlaying() ? std::optional<double>(0.04) : std::nullopt;
    }

private:
    int *m_playing;
};

class FlatSource final : public ClipSource {
public:
    int playing = -1;
    std::unique_ptr<ClipPlayer> open(const QString &) override { return std::make_unique<FlatPlayer>(&playing); }
};

TEST(CatHeadFilm, APausedFilmHoldsItsFrameWithoutPlaying)
{
    Looks looks;
    write(looks.folder("filmed") + "/manifest.json", manifest("filmed"));
    const CompanionVariant look = CompanionLibrary::variant(QStringLiteral("filmed"));
    ASSERT_TRUE(look.isFilmed());
    const CompanionClip idle = look.clips.at(QStringLiteral("idle"));
    ASSERT_TRUE(idle.head);
    auto source = std::make_shared<FlatSource>();
    CatHeadFilm film(look, idle, *idle.head, 44, nullptr, source);
    film.setPaused(true);
    const QImage still = rendered(film);
    EXPECT_EQ(still.pixelColor(22, 22), QColor(Qt::magenta));
    EXPECT_EQ(source->playing, 0);
    EXPECT_FALSE(film.figure().secondsToNextFrame());

    film.setPaused(false);
    rendered(film);
    EXPECT_EQ(source->playing, 1);
}

} // namespace
