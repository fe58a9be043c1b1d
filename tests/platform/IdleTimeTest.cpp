#include <gtest/gtest.h>

#include "platform/IdleTime.h"
#include "platform/X11.h"
#include "support/TestSupport.h"

#include <QProcess>

TEST(X11IdleTime, GrowsWhileIdleAndResetsOnPointerMotion)
{
    ASSERT_TRUE(X11::available());
    std::optional<double> idle;
    ASSERT_TRUE(zktest::spinUntil([&] {
        idle = IdleTime::system().secondsSinceInput();
        return idle && *idle >= 0.3;
    })) << "the idle time never grew";

    ASSERT_EQ(zktest::runTool(QStringLiteral("xdotool"), {"mousemove", "10", "10"}), 0);
    ASSERT_EQ(zktest::runTool(QStringLiteral("xdotool"), {"mousemove", "20", "30"}), 0);
    const auto after = IdleTime::system().secondsSinceInput();
    ASSERT_TRUE(after.has_value());
    EXPECT_LT(*after, *idle);
}
