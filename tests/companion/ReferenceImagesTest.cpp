// The drawn cat and its bubble against reference pictures, one per pose and bubble
// kind, so that a changed detail (a missing whisker, a tail that no longer sways,
// a mark drifting the wrong way, a shadow gone) fails.
//
// Regenerate after an intended change, then look at every changed picture:
//   ZK_UPDATE_REFERENCES=1 tests/companion/companion_drawing_test --gtest_filter='ReferenceImages*'
// A failing case writes what it drew, and the difference, next to the test binary
// (reference-actual/).

#include <gtest/gtest.h>

#include "companion/CompanionFigure.h"
#include "companion/SpeechBubble.h"
#include "design/AppearanceService.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <functional>

namespace {

using S = CompanionState;

constexpr double kScale = 2;
constexpr double kMargin = 14; // the drawing's overflow and its shadows

// A pixel counts as changed when a channel moves by more than this; a picture
// fails when more than kChangedPixels change. Loose enough for rounding in the
// blur and the rasterizer, tight enough for a one-point whisker.
constexpr int kChannelTolerance = 16;
constexpr int kChangedPixels = 8;

struct Reference {
    const char *name;
    std::function<QImage()> draw;
};

QImage canvas(QSizeF points)
{
    QImage image(int(std::ceil((points.width() + 2 * kMargin) * kScale)),
                 int(std::ceil((points.height() + 2 * kMargin) * kScale)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage cat(S state, double phase = 0, double facing = 1, std::function<void(CompanionPose &)> more = {})
{
    CompanionPose pose;
    pose.state = state;
    pose.phase = phase;
    pose.facing = facing;
    if (more)
        more(pose);
    QImage image = canvas({CompanionFigure::kWidth, CompanionFigure::kHeight});
    QPainter p(&image);
    p.scale(kScale, kScale);
    p.translate(kMargin, kMargin);
    CompanionFigure(pose).paint(p);
    return image;
}

QImage bubble(const QString &text, BubbleShape::Edge edge, double tailOffset, double tailHeight = 10)
{
    const SpeechBubble b{text, tailOffset, edge, tailHeight};
    QImage image = canvas(b.size());
    QPainter p(&image);
    p.scale(kScale, kScale);
    p.translate(kMargin, kMargin);
    b.paint(p);
    return image;
}

const std::vector<Reference> &references()
{
    static const std::vector<Reference> all{
        // Phases away from 0 and 0.5, so that every sway and swing is off its rest.
        {"idle", [] { return cat(S::idle, 0.2); }},
        {"idle-gaze-left", [] { return cat(S::idle, 0.7, -1, [](auto &p) { p.gaze = QPointF(1, 0.6); }); }},
        {"idle-blink", [] { return cat(S::idle, 0.45, 1, [](auto &p) { p.blink = true; }); }},
        {"walk", [] { return cat(S::walk, 0.2); }},
        {"walk-left", [] { return cat(S::walk, 0.62, -1); }},
        {"groom", [] { return cat(S::groom, 0.3); }},
        {"stretch", [] { return cat(S::stretch, 0.1, 1, [](auto &p) { p.progress = 0.5; }); }},
        {"pounce", [] { return cat(S::pounce, 0, 1, [](auto &p) { p.progress = 0.4; }); }},
        {"jump-rising", [] { return cat(S::jump, 0, 1, [](auto &p) { p.verticalSpeed = 320; }); }},
        {"fall", [] { return cat(S::fall, 0, -1, [](auto &p) { p.verticalSpeed = -500; }); }},
        {"carried", [] { return cat(S::carried, 0.3); }},
        {"perch", [] { return cat(S::perch, 0.2); }},
        {"nest", [] { return cat(S::nest, 0.7, -1); }},
        {"sleep", [] { return cat(S::sleep, 0.3); }},
        {"sleep-left", [] { return cat(S::sleep, 0.15, -1); }},
        {"bubble-bottom",
         [] { return bubble(QStringLiteral("Published. Link is in the plan."), BubbleShape::Edge::bottom, 40); }},
        {"bubble-top", [] { return bubble(QStringLiteral("Time for a break?"), BubbleShape::Edge::top, -30); }},
        {"bubble-long",
         [] {
             return bubble(QStringLiteral("A long line that the cat says when it has a lot on its mind: the plan, "
                                          "the grid, the next reel, and whether anyone remembered the snacks, and "
                                          "then some more words so that it runs past four lines."),
                           BubbleShape::Edge::leading, 0);
         }},
    };
    return all;
}

QString referencePath(const char *name)
{
    return QStringLiteral(ZK_REFERENCE_DIR "/") + QLatin1String(name) + QStringLiteral(".png");
}

struct Difference {
    int changed = 0;
    int worst = 0;
    QImage picture; // red where a pixel changed
};

Difference compare(const QImage &expected, const QImage &actual)
{
    Difference d;
    const QImage a = expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = actual.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (a.size() != b.size()) {
        d.changed = std::max(a.width() * a.height(), b.width() * b.height());
        d.worst = 255;
        return d;
    }
    d.picture = QImage(a.size(), QImage::Format_ARGB32);
    d.picture.fill(Qt::white);
    for (int y = 0; y < a.height(); ++y) {
        const auto *ra = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *rb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int delta = std::max({std::abs(qRed(ra[x]) - qRed(rb[x])), std::abs(qGreen(ra[x]) - qGreen(rb[x])),
                                        std::abs(qBlue(ra[x]) - qBlue(rb[x])), std::abs(qAlpha(ra[x]) - qAlpha(rb[x]))});
            d.worst = std::max(d.worst, delta);
            if (delta > kChannelTolerance) {
                ++d.changed;
                d.picture.setPixel(x, y, qRgb(255, 0, 0));
            } else if (qAlpha(ra[x]) > 0) {
                d.picture.setPixel(x, y, qRgb(210, 210, 210));
            }
        }
    }
    return d;
}

bool updating() { return qEnvironmentVariableIntValue("ZK_UPDATE_REFERENCES") == 1; }

class ReferenceImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The marks and the bubble take the palette's colours of the light appearance.
        AppearanceService::shared().setTheme(AppTheme::light);
    }
};

} // namespace

TEST_F(ReferenceImages, EveryPoseAndBubbleMatchesItsPicture)
{
    const QString out = QStringLiteral(ZK_REFERENCE_OUT);
    for (const Reference &r : references()) {
        SCOPED_TRACE(r.name);
        const QImage actual = r.draw();
        const QString path = referencePath(r.name);
        if (updating()) {
            ASSERT_TRUE(actual.save(path, "PNG", 0)) << qPrintable(path); // smallest file
            continue;
        }
        const QImage expected(path);
        ASSERT_FALSE(expected.isNull()) << "no reference picture " << qPrintable(path)
                                        << "; make it with ZK_UPDATE_REFERENCES=1";
        const Difference d = compare(expected, actual);
        if (d.changed > kChangedPixels) {
            QDir().mkpath(out);
            actual.save(out + u'/' + QLatin1String(r.name) + QStringLiteral(".png"));
            if (!d.picture.isNull())
                d.picture.save(out + u'/' + QLatin1String(r.name) + QStringLiteral("-diff.png"));
        }
        EXPECT_LE(d.changed, kChangedPixels) << d.changed << " pixels changed (worst by " << d.worst
                                             << "); drawn and difference in " << qPrintable(out);
    }
}
