// The filmed looks the build renders into the bundle, played for real.

#include <gtest/gtest.h>

#include "companion/CompanionLibrary.h"
#include "companion/FilmedFigure.h"
#include "companion/LookPicture.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QPainter>

namespace {

const QStringList kClipNames{"idle", "groom", "walk", "air", "sleep", "perch", "nest"};

// The lowest row of `image` holding a nearly opaque pixel: where the paws end.
int lowestOpaqueRow(const QImage &image)
{
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) >= 250)
                return y;
    return -1;
}

} // namespace

TEST(BundledLooks, TwoFilmedLooksComeBeforeTheDrawnOneAndEveryClipPlays)
{
    const QList<CompanionVariant> &looks = CompanionLibrary::variants();
    QStringList ids;
    for (const auto &look : looks)
        ids << look.id;
    ASSERT_EQ(ids, (QStringList{"ginger", "smoke", "drawn"}));

    for (const CompanionVariant &look : looks.mid(0, 2)) {
        SCOPED_TRACE(look.id.toStdString());
        EXPECT_EQ(look.size, QSizeF(84, 62));
        EXPECT_EQ(look.walkSpeed, 68);
        for (const QString &name : kClipNames) {
            SCOPED_TRACE(name.toStdString());
            ASSERT_TRUE(look.clips.count(name));
            const CompanionClip &clip = look.clips.at(name);
            WebPClipSource source;
            auto player = source.open(*look.folder + u'/' + clip.file);
            ASSERT_TRUE(zktest::spinUntil([&] { return player->isReady(); }));
            player->restart();
            const QImage frame = player->currentFrame().convertToFormat(QImage::Format_ARGB32);
            ASSERT_EQ(frame.size(), QSize(int(clip.pixelWidth), int(clip.pixelHeight)));
            EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0) << "the clip keeps its alpha";
            // The manifest's floor is where the paws stand, to a pixel or two.
            if (name == QLatin1String("idle") || name == QLatin1String("walk") || name == QLatin1String("groom") ||
                name == QLatin1String("sleep")) {
                EXPECT_NEAR(lowestOpaqueRow(frame), clip.floor * clip.pixelHeight, 2.5);
            }
            if (clip.head) {
                const QPointF centre(clip.head->x + clip.head->size / 2, clip.head->y + clip.head->size / 2);
                EXPECT_EQ(qAlpha(frame.pixel(centre.toPoint())), 255) << "the head box is round the head";
                EXPECT_LE(clip.head->x + clip.head->size, clip.pixelWidth);
            }
            if (clip.prop) {
                const QPoint top(int(clip.prop->centerX * clip.pixelWidth), int(clip.prop->top * clip.pixelHeight));
                EXPECT_EQ(qAlpha(frame.pixel(top + QPoint(0, 3))), 255) << "just inside the prop's top";
                EXPECT_LT(qAlpha(frame.pixel(top + QPoint(int(0.2 * clip.pixelWidth), -3))), 255);
            }
        }
        EXPECT_TRUE(look.clips.at(QStringLiteral("idle")).head) << "the ask panel's head film needs it";
        EXPECT_TRUE(look.clips.at(QStringLiteral("nest")).prop);

        // Every picture a look may have is there and reads.
        for (CatLook expression : kAllCatLooks) {
            const auto face = CompanionLibrary::faceURL(look.id, expression);
            ASSERT_TRUE(face);
            EXPECT_TRUE(face->endsWith(QStringLiteral("/face-") + rawValue(expression) + QStringLiteral(".png")));
            EXPECT_EQ(LookPicture::load(*face).size(), QSize(128, 128));
        }
        EXPECT_TRUE(CompanionLibrary::portraitURL(look.id)->endsWith(QStringLiteral("/portrait.jpg")));
        EXPECT_FALSE(LookPicture::load(*CompanionLibrary::portraitURL(look.id)).isNull());
        EXPECT_FALSE(LookPicture::load(*CompanionLibrary::faceURL(look.id)).isNull());
        for (const char *name : {"poster.png", "leap.png", "happy.png", "curious.png", "concerned.png", "sleepy.png",
                                 "sit.png"}) {
            const auto path = CompanionLibrary::fileURL(look, QLatin1String(name));
            ASSERT_TRUE(path) << name;
            EXPECT_FALSE(LookPicture::load(*path).isNull()) << name;
        }
        WebPClipSource source;
        auto live = source.open(*CompanionLibrary::liveFaceURL(look.id));
        ASSERT_TRUE(zktest::spinUntil([&] { return live->isReady(); }));
        EXPECT_EQ(live->memoryBytes(), 16 * 128 * 128 * 4);
    }
}

TEST(BundledLooks, TheFilmedFigureShowsAClipForEveryState)
{
    const CompanionVariant look = CompanionLibrary::variant(QStringLiteral("smoke"));
    ASSERT_TRUE(look.isFilmed());
    FilmedFigure figure;
    for (CompanionState state : kAllCompanionStates) {
        const auto clip = look.clip(state);
        ASSERT_TRUE(clip) << rawValue(state).toStdString();
        // As a canvas draws it, frame after frame, until the clip is on.
        QImage canvas(120, 100, QImage::Format_ARGB32_Premultiplied);
        auto frame = [&] {
            canvas.fill(Qt::transparent);
            QPainter p(&canvas);
            figure.draw(p, look, *clip, QRectF(0, 0, 120, 100), state == CompanionState::walk, 0, false);
            return figure.showing() == clip->file;
        };
        ASSERT_TRUE(zktest::spinUntil(frame)) << rawValue(state).toStdString();
        // The body, at (30, 36) of the figure's frame in every pose.
        EXPECT_EQ(canvas.pixelColor(47, 56).alpha(), 255) << rawValue(state).toStdString();
    }
    EXPECT_EQ(figure.reelCount(), 7);
    EXPECT_TRUE(figure.secondsToNextFrame());
}
