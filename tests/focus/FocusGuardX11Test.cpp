// The focus guard over the X11 window source, on a real X server under openbox,
// with the windows of another application (the window helper) and one of ours.
#include <gtest/gtest.h>

#include "focus/FocusGuard.h"
#include "focus/X11WindowSource.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"
#include "support/WindowHelperProcess.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

const DistractingWindow *withElement(const std::vector<DistractingWindow> &list, uint32_t element)
{
    for (const auto &w : list) {
        if (w.element == element)
            return &w;
    }
    return nullptr;
}

} // namespace

TEST(X11Desktop, PointsAreFlippedAtThePrimaryScreensBottom)
{
    // Xvfb's screen is 1280 × 800 at a device pixel ratio of 1.
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1280, 800));
    EXPECT_EQ(X11::toDesktopPoints(QRect(100, 40, 800, 600)), QRectF(100, 160, 800, 600));
    EXPECT_EQ(X11::toDesktopPoints(QRect(0, 0, 1280, 800)), QRectF(0, 0, 1280, 800));
}

TEST(X11FocusGuard, FindsAnotherApplicationsFeedWindowsButNotOurOwnNorMinimisedOnes)
{
    // One of ours, with a title that would match.
    QWidget own;
    own.setWindowTitle(QStringLiteral("Instagram — наше окно"));
    own.setGeometry(700, 100, 300, 200);
    own.show();

    zktest::WindowHelperProcess other;
    ASSERT_TRUE(other.start(QStringLiteral(ZK_WINDOW_HELPER),
                            {QStringLiteral("Лента новостей — Браузер"), QStringLiteral("Отчёт за квартал"),
                             QStringLiteral("min:YouTube — свёрнутое"), QStringLiteral("Reels • Instagram")}));
    const auto &shown = other.shown;
    X11WindowSource source;
    ASSERT_TRUE(source.trusted());

    // Wait until the window manager reports the helper's minimised window hidden
    // and our own window managed.
    std::vector<DistractingWindow> found;
    ASSERT_TRUE(zktest::spinUntil([&] {
        found = FocusGuard::scan(source);
        bool ownListed = false, minimisedHidden = false;
        for (const auto &w : X11::readClientWindows()) {
            ownListed |= w.id == uint32_t(own.winId());
            minimisedHidden |= w.id == shown[2].id && w.hidden();
        }
        return ownListed && minimisedHidden && found.size() == 2;
    })) << "found " << found.size();

    const auto *feed = withElement(found, shown[0].id);
    const auto *reels = withElement(found, shown[3].id);
    ASSERT_TRUE(feed && reels);
    EXPECT_FALSE(withElement(found, uint32_t(own.winId()))) << "our own window";
    EXPECT_FALSE(withElement(found, shown[2].id)) << "the minimised window";

    EXPECT_EQ(feed->title, QStringLiteral("Лента новостей — Браузер"));
    EXPECT_EQ(reels->title, QStringLiteral("Reels • Instagram"));
    // Ids count the helper's windows front-most first, skipped ones included.
    std::vector<uint32_t> frontFirst;
    const auto stack = X11::readClientWindows();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        for (const auto &s : shown) {
            if (s.id == it->id)
                frontFirst.push_back(s.id);
        }
    }
    ASSERT_EQ(frontFirst.size(), shown.size());
    auto position = [&](uint32_t id) { return int(std::find(frontFirst.begin(), frontFirst.end(), id) - frontFirst.begin()); };
    const QString pid = QString::number(other.pid());
    EXPECT_EQ(feed->id, pid + QLatin1Char('-') + QString::number(position(shown[0].id)));
    EXPECT_EQ(reels->id, pid + QLatin1Char('-') + QString::number(position(shown[3].id)));
    EXPECT_EQ(&found[0], position(shown[0].id) < position(shown[3].id) ? feed : reels) << "window order";
    EXPECT_FALSE(feed->appName.isEmpty());
    EXPECT_NE(feed->appName, QStringLiteral("Browser")) << "the helper names its window class";

    // The frame the window manager gave, with decorations, in y-up points.
    const QRect f = shown[0].frame;
    ASSERT_TRUE(feed->frame.has_value());
    EXPECT_EQ(*feed->frame, QRectF(f.x(), 800 - f.y() - f.height(), f.width(), f.height()));
}

TEST(X11FocusGuard, MinimisingAWindowHidesItAndTheNextScanLeavesItOut)
{
    zktest::WindowHelperProcess other;
    ASSERT_TRUE(other.start(QStringLiteral(ZK_WINDOW_HELPER), {QStringLiteral("TikTok — Для вас")}));
    X11WindowSource source;
    std::vector<DistractingWindow> found;
    ASSERT_TRUE(zktest::spinUntil([&] {
        found = FocusGuard::scan(source);
        return withElement(found, other.shown[0].id) != nullptr;
    }));
    ASSERT_TRUE(source.minimize(withElement(found, other.shown[0].id)->element));
    EXPECT_TRUE(zktest::spinUntil([&] { return !withElement(FocusGuard::scan(source), other.shown[0].id); }));
    bool hidden = false;
    for (const auto &w : X11::readClientWindows())
        hidden |= w.id == other.shown[0].id && w.hidden();
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(source.minimize(0));
}
