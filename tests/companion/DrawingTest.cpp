#include <gtest/gtest.h>

#include "companion/CompanionFigure.h"
#include "companion/ShadowPainter.h"
#include "companion/SpeechBubble.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"

#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <QWidget>

namespace {

using S = CompanionState;

// Distinct colours so that every reference point names its part.
const QColor kFur(200, 0, 0), kCream(0, 190, 0), kAmber(0, 0, 220), kPaper(255, 255, 255), kMarks(0, 170, 170);

constexpr double kScale = 4, kMargin = 10;

// The figure in the test colours; the marks in the palette's own unless `marks`.
CompanionFigure testFigure(const CompanionPose &pose, bool testMarks = true)
{
    CompanionFigure figure(pose);
    figure.fur = kFur;
    figure.cream = kCream;
    figure.amber = kAmber;
    figure.paper = kPaper;
    if (testMarks)
        figure.marks = kMarks;
    return figure;
}

QImage render(const CompanionPose &pose, bool testMarks = true)
{
    const CompanionFigure figure = testFigure(pose, testMarks);
    QImage image(int((84 + 2 * kMargin) * kScale), int((62 + 2 * kMargin) * kScale), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(kScale, kScale);
    p.translate(kMargin, kMargin);
    figure.paint(p);
    return image;
}

// The colour at a point of the design frame.
QColor at(const QImage &image, double x, double y)
{
    return image.pixelColor(int((x + kMargin) * kScale), int((y + kMargin) * kScale));
}

bool same(const QColor &a, const QColor &b)
{
    return a.alpha() == 255 && std::abs(a.red() - b.red()) <= 4 && std::abs(a.green() - b.green()) <= 4 &&
           std::abs(a.blue() - b.blue()) <= 4;
}

std::string describe(const QColor &c) { return c.name(QColor::HexArgb).toStdString(); }

struct Point {
    double x, y;
    QColor color;
    const char *part;
};

// Each point must show its colour, and, with the cat facing left, so must its
// mirror image about x = 42.
void expectPoints(CompanionPose pose, std::initializer_list<Point> points)
{
    for (double facing : {1.0, -1.0}) {
        pose.facing = facing;
        const QImage image = render(pose);
        for (const Point &pt : points) {
            const double x = facing > 0 ? pt.x : 84 - pt.x;
            const QColor c = at(image, x, pt.y);
            EXPECT_TRUE(same(c, pt.color)) << rawValue(pose.state).toStdString() << " facing " << facing << ": "
                                           << pt.part << " at (" << x << ", " << pt.y << ") is " << describe(c);
        }
    }
}

bool anyPixel(const QImage &image, const QRectF &designRect, const QColor &color)
{
    for (double y = designRect.top(); y < designRect.bottom(); y += 0.25)
        for (double x = designRect.left(); x < designRect.right(); x += 0.25)
            if (same(at(image, x, y), color))
                return true;
    return false;
}

bool isFur(const QImage &image, double x, double y) { return same(at(image, x, y), kFur); }

} // namespace

TEST(CompanionFigure, StandingStatesPlaceBodyHeadTailAndDetails)
{
    for (S state : {S::idle, S::walk, S::stretch}) {
        CompanionPose pose;
        pose.state = state;
        pose.phase = state == S::walk ? 0.5 : 0; // walk at 0.5: stride 0, bob 1.6
        expectPoints(pose, {{14, 40, kFur, "body"},
                            {38, 44, kCream, "belly"},
                            {56, 15, kFur, "head"},
                            {51, 25.25, kPaper, "eye white"},
                            {45, 38.2, kAmber, "collar"},
                            {24.5, 58, kFur, "back leg"},
                            {3.2, 38.6, kFur, "tail"}});
    }
    CompanionPose groom;
    groom.state = S::groom;
    expectPoints(groom, {{14, 40, kFur, "body"}, {38, 44, kCream, "belly"}, {24.5, 58, kFur, "back leg"}});

    // Pouncing half way lifts belly and head by 14 points; the legs stay down.
    CompanionPose pounce;
    pounce.state = S::pounce;
    pounce.progress = 0.5;
    expectPoints(pounce, {{38, 30, kCream, "raised belly"}, {24.5, 58, kFur, "leg"}, {56, 4, kFur, "raised head"}});

    // Stretching half way: a 36-point body from y 24 reaches down between the legs.
    CompanionPose stretch;
    stretch.state = S::stretch;
    stretch.progress = 0.5;
    expectPoints(stretch, {{40, 58.5, kFur, "deeper body"}});
    EXPECT_FALSE(isFur(render(CompanionPose()), 40, 58.5));

    // The first stripe starts beyond the body's edge: there it is translucent cream,
    // not the stripe's blend with the fur.
    for (double facing : {1.0, -1.0}) {
        CompanionPose pose;
        pose.facing = facing;
        const QColor c = at(render(pose), facing > 0 ? 15.5 : 84 - 15.5, 27.5);
        EXPECT_LT(c.alpha(), 200) << describe(c);
        EXPECT_GT(c.green(), c.red() + 100) << describe(c);
    }
}

TEST(CompanionFigure, EyesBlinkAndFollowTheGaze)
{
    CompanionPose pose;
    pose.blink = true;
    pose.gaze = QPointF(1, 1); // a blink hides the gaze
    expectPoints(pose, {{53.5, 25.8, kPaper, "slit"}, {51, 23.5, kFur, "shut eye"}});
    pose.blink = false;
    pose.gaze = QPointF();
    expectPoints(pose, {{51, 23.5, kPaper, "open eye"}, {51.5, 26.5, kPaper, "white beside the pupil"}});
    pose.gaze = QPointF(-1, -1);
    expectPoints(pose, {{51.5, 26.5, kFur, "pupil looking back and down"}});
}

TEST(CompanionFigure, SittingAirborneAndSleepingPoses)
{
    CompanionPose perch;
    perch.state = S::perch;
    expectPoints(perch, {{20, 40, kFur, "body"},
                         {36, 43, kCream, "belly"},
                         {38.5, 64, kFur, "hanging paw below the frame"},
                         {57, 12, kFur, "head"},
                         {5.2, 42.6, kFur, "tail"}});
    CompanionPose nest = perch;
    nest.state = S::nest;
    expectPoints(nest, {{20, 40, kFur, "body"}, {38.5, 60, kFur, "short paw"}, {57, 12, kFur, "head"}});
    EXPECT_FALSE(isFur(render(nest), 38.5, 64));

    CompanionPose carried;
    carried.state = S::carried;
    expectPoints(carried,
                 {{15, 36, kFur, "body"}, {38, 40, kCream, "belly"}, {26.5, 52, kFur, "leg"}, {20, 27, kFur, "back"}});
    // Rising tips the rear down, falling fast tips it up; 40 either way is level.
    for (double vs : {40.0, -40.0})
        EXPECT_TRUE(isFur(render([&] {
                              CompanionPose p = carried;
                              p.verticalSpeed = vs;
                              return p;
                          }()),
                          20, 27));
    CompanionPose rising = carried;
    rising.state = S::jump;
    rising.verticalSpeed = 41;
    EXPECT_FALSE(isFur(render(rising), 20, 27));
    CompanionPose falling = carried;
    falling.state = S::fall;
    falling.verticalSpeed = -41;
    EXPECT_TRUE(isFur(render(falling), 20, 22));
    EXPECT_FALSE(isFur(render(carried), 20, 22));

    CompanionPose sleep;
    sleep.state = S::sleep;
    expectPoints(sleep, {{20, 50, kFur, "curled body"},
                         {40, 59, kFur, "wrapped tail"},
                         {43, 51, kCream, "belly"},
                         {60, 32, kFur, "head"},
                         {57, 39.75, kPaper, "closed eye"},
                         {62.2, 44.8, kAmber, "nose"},
                         {44, 48.5, kAmber, "collar"}});
}

TEST(CompanionFigure, SleepMarksRiseOnlyWhileAsleep)
{
    CompanionPose pose;
    pose.state = S::sleep;
    // Only the first mark is fully opaque at phase 0, at (70, 20); mirrored with the cat.
    const QImage right = render(pose);
    EXPECT_TRUE(anyPixel(right, QRectF(70, 20, 7, 12), kMarks));
    EXPECT_FALSE(anyPixel(right, QRectF(-8, -8, 78, 78), kMarks));
    pose.facing = -1;
    const QImage left = render(pose);
    EXPECT_TRUE(anyPixel(left, QRectF(7, 20, 7, 12), kMarks));
    EXPECT_FALSE(anyPixel(left, QRectF(14, -8, 78, 78), kMarks));
    // At 0.9 that mark has vanished and the others are translucent.
    pose.phase = 0.9;
    EXPECT_FALSE(anyPixel(render(pose), QRectF(-8, -8, 100, 78), kMarks));
    // Unset, the marks take the palette's settled colour of the current appearance.
    pose.phase = 0;
    pose.facing = 1;
    for (auto [theme, settled] : {std::pair(AppTheme::dark, QColor(0xC9, 0xC9, 0xC4)),
                                  std::pair(AppTheme::light, QColor(0x7A, 0x6B, 0x56))}) {
        AppearanceService::shared().setTheme(theme);
        const QImage image = render(pose, false);
        EXPECT_TRUE(anyPixel(image, QRectF(70, 20, 7, 12), settled)) << AppThemes::rawValue(theme).toStdString();
        EXPECT_FALSE(anyPixel(image, QRectF(70, 20, 7, 12), kMarks));
    }
    // Other states never show them, whatever the phase.
    for (S state : kAllCompanionStates) {
        if (state == S::sleep)
            continue;
        CompanionPose other;
        other.state = state;
        EXPECT_FALSE(anyPixel(render(other), QRectF(60, 0, 30, 40), kMarks)) << rawValue(state).toStdString();
    }
}

namespace {

const QColor kText(0, 0, 0), kSurface(250, 240, 200);

SpeechBubble bubble(const QString &text, BubbleShape::Edge edge = BubbleShape::Edge::bottom, double tail = 10,
                    double offset = 0)
{
    SpeechBubble b{text, offset, edge, tail};
    b.textColor = kText;
    b.surface = kSurface;
    b.line = QColor(255, 0, 255);
    return b;
}

QImage render(const SpeechBubble &b, double scale = 2)
{
    const QSizeF size = b.size();
    QImage image(int((size.width() + 40) * scale), int((size.height() + 40) * scale), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(scale, scale);
    p.translate(20, 20);
    b.paint(p);
    return image;
}

QColor bubbleAt(const QImage &image, double x, double y, double scale = 2)
{
    return image.pixelColor(int((x + 20) * scale), int((y + 20) * scale));
}

} // namespace

const QString kLong = QStringLiteral(
    "A long line that the cat says when it has a lot on its mind: the plan, the grid, the next reel, and whether "
    "anyone remembered the snacks, and then some more words so that it runs past four lines.");

TEST(SpeechBubble, WrapsAtItsWidthAndStopsAfterFourLines)
{
    const auto shortLayout = bubble(QStringLiteral("Published.")).layout();
    EXPECT_EQ(shortLayout.lineCount, 1);
    EXPECT_LT(shortLayout.textSize.width(), 120);
    EXPECT_EQ(shortLayout.bubbleSize.width(), shortLayout.textSize.width() + 28);
    EXPECT_EQ(shortLayout.bubbleSize.height(), shortLayout.textSize.height() + 20 + 10);
    EXPECT_FALSE(shortLayout.elided);

    const auto longLayout = bubble(kLong).layout();
    EXPECT_EQ(longLayout.lineCount, 4);
    EXPECT_TRUE(longLayout.elided);
    EXPECT_LE(longLayout.textSize.width(), 250);
    EXPECT_GT(longLayout.textSize.width(), 200);
    EXPECT_LE(longLayout.bubbleSize.width(), 278);
    EXPECT_GT(longLayout.textSize.height(), 3.5 * shortLayout.textSize.height());

    // The edge: word by word, the longest text that is not cut fills all four
    // lines (a text that fits four lines exactly keeps every word), and one
    // word more is cut.
    const QStringList words = kLong.split(u' ');
    qsizetype fits = 0;
    for (qsizetype n = 1; n <= words.size(); ++n) {
        if (bubble(words.mid(0, n).join(u' ')).layout().elided)
            break;
        fits = n;
    }
    ASSERT_GT(fits, 0);
    ASSERT_LT(fits, words.size());
    const auto whole = bubble(words.mid(0, fits).join(u' ')).layout();
    EXPECT_EQ(whole.lineCount, 4);
    EXPECT_FALSE(whole.elided);
    const auto over = bubble(words.mid(0, fits + 1).join(u' ')).layout();
    EXPECT_EQ(over.lineCount, 4);
    EXPECT_TRUE(over.elided);

    // No tail: no strip.
    EXPECT_EQ(bubble(QStringLiteral("Published."), BubbleShape::Edge::bottom, 0).size().height(),
              shortLayout.textSize.height() + 20);

    // Painted: ink stays inside the text's width; the body is filled in between.
    const SpeechBubble b = bubble(kLong);
    const QImage image = render(b);
    const QRectF text = b.textRect();
    int inkRight = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (same(image.pixelColor(x, y), kText))
                inkRight = std::max(inkRight, x);
    EXPECT_GT(inkRight, 0);
    EXPECT_LE(inkRight / 2.0 - 20, text.right() + 1);
    EXPECT_TRUE(same(bubbleAt(image, 20, b.size().height() - 10 - 4), kSurface));

    // Colours left unset are the palette's surface and text of the current appearance.
    for (auto [theme, surface, text] :
         {std::tuple(AppTheme::dark, QColor(0x1A, 0x1A, 0x1A), QColor(0xF5, 0xF5, 0xF3)),
          std::tuple(AppTheme::light, QColor(0xFF, 0xFE, 0xFC), QColor(0x20, 0x1F, 0x1C))}) {
        AppearanceService::shared().setTheme(theme);
        const SpeechBubble plain{QStringLiteral("Published."), 0, BubbleShape::Edge::bottom, 10};
        const QImage painted = render(plain);
        EXPECT_TRUE(same(bubbleAt(painted, 8, plain.size().height() - 10 - 8), surface))
            << AppThemes::rawValue(theme).toStdString();
        bool inked = false;
        for (int y = 0; y < painted.height() && !inked; ++y)
            for (int x = 0; x < painted.width() && !inked; ++x)
                inked = same(painted.pixelColor(x, y), text);
        EXPECT_TRUE(inked) << AppThemes::rawValue(theme).toStdString();
    }
}

TEST(SpeechBubble, RightToLeftLinesAlignToTheRight)
{
    // A Hebrew line, and in the Hebrew interface one that opens with a handle
    // (the cat's word once Instagram is connected) and an English answer.
    const struct Restore {
        AppLanguage was = L10n::preference();
        ~Restore() { L10n::setPreference(was); }
    } restore;
    L10n::setPreference(AppLanguage::he);
    const QString opensWithHandle =
        L10n::tf("@%@ is connected. I'll keep an eye on the plan.", QStringLiteral("kitty.studio"));
    EXPECT_TRUE(bubble(opensWithHandle).layout().rightToLeft);
    {
        // Laid from the right, the "@" stays in front of the handle.
        QFont font;
        font.setPixelSize(int(SpeechBubble::kFontSize));
        QTextLayout laid(opensWithHandle, font);
        QTextOption option;
        option.setTextDirection(Qt::RightToLeft);
        laid.setTextOption(option);
        laid.beginLayout();
        QTextLine line = laid.createLine();
        line.setLineWidth(1000);
        laid.endLayout();
        const auto x = [&](QChar c) { return line.cursorToX(int(opensWithHandle.indexOf(c))); };
        EXPECT_LT(x(u'@'), x(u'k'));
    }
    EXPECT_FALSE(bubble(QStringLiteral("Meow. Post when your audience is awake.")).layout().rightToLeft);
    for (const QString &words : {QString::fromUtf8("פורסם. הקישור נמצא בתוכנית, ואפשר לפתוח אותו מכל מקום "
                                                   "בסביבת העבודה שלך כשתרצה."), opensWithHandle}) {
        SCOPED_TRACE(words.toStdString());
        const SpeechBubble b = bubble(words);
        const auto layout = b.layout();
        EXPECT_TRUE(layout.rightToLeft);
        ASSERT_GE(layout.lineCount, 2);
        const QImage image = render(b);
        const QRectF text = b.textRect();
        // The first and last lines both end at the right edge; the shorter last line leaves the left free.
        const double lineH = (text.height() + SpeechBubble::kLineSpacing) / layout.lineCount;
        auto inkSpan = [&](int line) {
            int lo = image.width(), hi = -1;
            const int y0 = int((text.top() + line * lineH + 20) * 2), y1 = int((text.top() + (line + 1) * lineH + 20) * 2);
            for (int y = y0; y < y1; ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y).alpha() == 255 && image.pixelColor(x, y).lightness() < 60) {
                        lo = std::min(lo, x);
                        hi = std::max(hi, x);
                    }
            return std::pair(lo / 2.0 - 20, hi / 2.0 - 20);
        };
        const auto first = inkSpan(0), last = inkSpan(layout.lineCount - 1);
        EXPECT_NEAR(first.second, text.right(), 3);
        EXPECT_NEAR(last.second, text.right(), 3);
        EXPECT_GT(last.first, text.left() + 20);
    }
}

TEST(SpeechBubble, TailSitsOnItsEdgeWithinTheCornersOrNotAtAll)
{
    const BubbleShape bottom{16, 10, 1000, BubbleShape::Edge::bottom};
    const QPainterPath path = bottom.path(QRectF(0, 0, 200, 60));
    // Body 0..50; the tail's centre is r + 8 = 24 in from the right end.
    EXPECT_TRUE(path.contains(QPointF(176, 52)));
    EXPECT_FALSE(path.contains(QPointF(100, 55)));
    EXPECT_NEAR(path.boundingRect().bottom(), 60, 0.5);
    const QPainterPath left = BubbleShape{16, 10, -1000, BubbleShape::Edge::bottom}.path(QRectF(0, 0, 200, 60));
    EXPECT_TRUE(left.contains(QPointF(24, 52)));

    const QPainterPath top = BubbleShape{16, 10, 0, BubbleShape::Edge::top}.path(QRectF(0, 0, 200, 60));
    EXPECT_TRUE(top.contains(QPointF(99, 3)));
    EXPECT_TRUE(top.contains(QPointF(100, 57))); // the body is below the strip
    EXPECT_FALSE(top.contains(QPointF(40, 5)));

    // Too narrow for a tail (width 2r + 16), or a side edge: the strip stays empty.
    for (auto shape : {BubbleShape{16, 10, 0, BubbleShape::Edge::bottom}, BubbleShape{16, 10, 0, BubbleShape::Edge::leading}}) {
        const double width = shape.tailEdge == BubbleShape::Edge::bottom ? 48 : 200;
        const QRectF r = shape.path(QRectF(0, 0, width, 60)).boundingRect();
        EXPECT_NEAR(r.height(), 50, 0.5);
    }
    // Radius follows half the body's smaller side.
    const QPainterPath small = BubbleShape{16, 0, 0, BubbleShape::Edge::bottom}.path(QRectF(0, 0, 100, 20));
    EXPECT_TRUE(small.contains(QPointF(10, 10)));
    EXPECT_FALSE(small.contains(QPointF(1, 1)));

    // Painted, the tail strip is filled under the tail and empty beside it.
    const SpeechBubble b = bubble(QStringLiteral("Published. Link is in the plan."));
    const QImage image = render(b);
    const double bodyBottom = b.size().height() - 10;
    EXPECT_TRUE(same(bubbleAt(image, b.size().width() / 2, bodyBottom + 2), kSurface));
    EXPECT_NE(bubbleAt(image, 10, bodyBottom + 6).alpha(), 255);
}

namespace {

QImage shadowed(const ShadowPainter::Shadow &shadow, QPointF at, const QColor &fill, ShadowPainter::Cache *cache,
                int *draws = nullptr)
{
    QImage image(160, 120, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.translate(at);
    ShadowPainter::paint(p, QRectF(0, 0, 30, 20), 1, {shadow},
                         [&](QPainter &q) {
                             if (draws)
                                 ++*draws;
                             q.setPen(Qt::NoPen);
                             q.setBrush(fill);
                             q.drawRoundedRect(QRectF(0, 0, 30, 20), 6, 6);
                         },
                         cache);
    return image;
}

} // namespace

TEST(ShadowPainter, ACachedImageIsTheUncachedOneAndIsRemadeWhenItsInputsChange)
{
    const ShadowPainter::Shadow soft{QColor(0, 0, 0, 60), 6, {0, 3}}, rim{QColor(255, 255, 255), 0.9, {}};
    ShadowPainter::Cache cache;
    int draws = 0;
    const QPointF at(20.3, 15.6);
    EXPECT_EQ(shadowed(soft, at, Qt::red, &cache, &draws), shadowed(soft, at, Qt::red, nullptr));
    EXPECT_EQ(shadowed(soft, at, Qt::red, &cache, &draws), shadowed(soft, at, Qt::red, nullptr));
    EXPECT_EQ(draws, 1) << "a valid image is blitted again, not drawn again";
    // A whole-pixel move reuses the image; a sub-pixel one or other shadows remake it.
    EXPECT_EQ(shadowed(soft, at + QPointF(3, 2), Qt::red, &cache, &draws),
              shadowed(soft, at + QPointF(3, 2), Qt::red, nullptr));
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(shadowed(soft, at + QPointF(0.25, 0), Qt::red, &cache, &draws),
              shadowed(soft, at + QPointF(0.25, 0), Qt::red, nullptr));
    EXPECT_EQ(shadowed(rim, at, Qt::red, &cache, &draws), shadowed(rim, at, Qt::red, nullptr));
    EXPECT_EQ(draws, 3);
    // A change of the drawing itself is the owner's to announce.
    cache.invalidate();
    EXPECT_EQ(shadowed(rim, at, Qt::blue, &cache, &draws), shadowed(rim, at, Qt::blue, nullptr));
    EXPECT_EQ(draws, 4);
}

// A figure drawn by a child widget lands where the child is, whether the
// window paints on screen or is grabbed, at any pixel ratio.
TEST(ShadowPainter, AChildWidgetsFigureLandsInsideTheChild)
{
    class Figure final : public QWidget {
    protected:
        void paintEvent(QPaintEvent *) override
        {
            QPainter painter(this);
            CompanionFigure(CompanionPose()).paint(painter, QRectF(8, 8, CompanionFigure::kWidth, CompanionFigure::kHeight));
        }
    };
    QWidget window;
    window.resize(400, 300);
    auto *child = new Figure;
    child->setParent(&window);
    child->setGeometry(250, 180, 100, 80);
    window.show();
    const QImage shot = window.grab().toImage();
    // Dark fur inside the child, nothing dark at the same spot seen from the window's corner.
    auto darkPixels = [&](const QRect &area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                dark += qGray(shot.pixel(x, y)) < 80 ? 1 : 0;
        return dark;
    };
    EXPECT_GT(darkPixels(QRect(250, 180, 100, 80)), 300);
    EXPECT_EQ(darkPixels(QRect(0, 0, 120, 100)), 0);
    // Twice the pixels: the same place.
    const QImage retina = [&] {
        QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::white);
        window.render(&image);
        return image;
    }();
    int dark = 0;
    for (int y = 360; y < 520; ++y)
        for (int x = 500; x < 700; ++x)
            dark += qGray(retina.pixel(x, y)) < 80 ? 1 : 0;
    EXPECT_GT(dark, 1200);
}

TEST(SpeechBubble, RepaintsShowTheCurrentTextAndColoursOnly)
{
    const QImage first = render(bubble(QStringLiteral("Published.")));
    EXPECT_EQ(render(bubble(QStringLiteral("Published."))), first);

    // Another text, then the first again: its own image each time.
    EXPECT_NE(render(bubble(QStringLiteral("Published!"))), first);
    EXPECT_EQ(render(bubble(QStringLiteral("Published."))), first);

    SpeechBubble recoloured = bubble(QStringLiteral("Published."));
    recoloured.surface = QColor(0, 120, 255);
    const QImage blue = render(recoloured);
    EXPECT_TRUE(same(bubbleAt(blue, 20, recoloured.size().height() - 10 - 4), QColor(0, 120, 255)));
    EXPECT_TRUE(same(bubbleAt(render(bubble(QStringLiteral("Published."))), 20,
                              recoloured.size().height() - 10 - 4),
                     kSurface));

    // Left to the palette, a change of appearance repaints in the new colours.
    const SpeechBubble plain{QStringLiteral("Published."), 0, BubbleShape::Edge::bottom, 10};
    for (auto [theme, surface] : {std::pair(AppTheme::dark, QColor(0x1A, 0x1A, 0x1A)),
                                  std::pair(AppTheme::light, QColor(0xFF, 0xFE, 0xFC)),
                                  std::pair(AppTheme::dark, QColor(0x1A, 0x1A, 0x1A))}) {
        AppearanceService::shared().setTheme(theme);
        EXPECT_TRUE(same(bubbleAt(render(plain), 8, plain.size().height() - 10 - 8), surface))
            << AppThemes::rawValue(theme).toStdString();
    }
}

TEST(ShadowPainter, WorkingOnTheCoveredSpanGivesTheWholeImagesPixels)
{
    // The figure in every state and facing, at the scales of real screens and at
    // fractional positions: the span-limited shadows must match the whole-image
    // ones pixel for pixel.
    auto paintAt = [](const CompanionPose &pose, double scale, QPointF at) {
        QImage image(int(130 * scale), int(110 * scale), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.translate(at);
        CompanionFigure(pose).paint(p);
        return image;
    };
    int compared = 0;
    for (CompanionState state : kAllCompanionStates) {
        for (double facing : {1.0, -1.0}) {
            for (double scale : {1.0, 1.5, 2.0}) {
                CompanionPose pose;
                pose.state = state;
                pose.facing = facing;
                pose.phase = 0.37;
                pose.progress = 0.5;
                pose.verticalSpeed = state == S::jump ? 120 : 0;
                const QPointF at(20.35, 17.8);
                ShadowPainter::workOnWholeImage(true);
                const QImage whole = paintAt(pose, scale, at);
                ShadowPainter::workOnWholeImage(false);
                const QImage span = paintAt(pose, scale, at);
                EXPECT_EQ(whole, span) << rawValue(state).toStdString() << " facing " << facing << " at " << scale;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 66);
}
