// Without an X11 session the hot key grabs nothing and never calls.
#include <gtest/gtest.h>

#include "ask/GlobalHotKey.h"

#include <QGuiApplication>

TEST(GlobalHotKey, WithoutAnXServerNothingIsRegistered)
{
    ASSERT_NE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    int calls = 0;
    GlobalHotKey key([&] { ++calls; });
    EXPECT_FALSE(key.registered());
    // Whatever reaches the filter is left alone.
    EXPECT_FALSE(key.nativeEventFilter("xcb_generic_event_t", nullptr, nullptr));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}
