#include <gtest/gtest.h>

#include "platform/IdleTime.h"
#include "platform/X11.h"

#include <QProcess>
#include <QThread>

TEST(X11IdleTime, GrowsWhileIdleAndResetsOnPointerMotion)
{
    ASSERT_TRUE(X11::available());
    QThread::msleep(400);
    const auto idle = IdleTime::system().secondsSinceInput();
    ASSERT_TRUE(idle.has_value());
    EXPECT_GE(*idle, 0.3);

    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {"mousemove", "10", "10"}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {"mousemove", "20", "30"}), 0);
    const auto after = IdleTime::system().secondsSinceInput();
    ASSERT_TRUE(after.has_value());
    EXPECT_LT(*after, *idle);
}
