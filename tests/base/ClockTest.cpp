#include <gtest/gtest.h>

#include "base/CancelToken.h"
#include "base/Clock.h"

#include <vector>

using namespace std::chrono_literals;

namespace {
QCoro::Task<> sleeper(FakeClock &clock, std::chrono::milliseconds d, std::vector<int> &log, int tag, CancelToken token = {})
{
    co_await clock.sleep(d);
    if (token.isCancelled()) {
        log.push_back(-tag);
        co_return;
    }
    log.push_back(tag);
}
} // namespace

TEST(FakeClock, SleepersWakeInTimeOrderWithNowAtTheirDueTime)
{
    FakeClock clock;
    const auto start = clock.now();
    std::vector<int> log;
    std::vector<qint64> wokeAt;
    auto a = sleeper(clock, 300ms, log, 3);
    auto b = sleeper(clock, 100ms, log, 1);
    auto c = sleeper(clock, 200ms, log, 2);
    auto timer = clock.after(150ms, [&] { wokeAt.push_back(start.msecsTo(clock.now())); });
    clock.advance(99ms);
    EXPECT_TRUE(log.empty());
    clock.advance(1ms);
    EXPECT_EQ(log, (std::vector<int>{1}));
    clock.advance(1s);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(wokeAt, (std::vector<qint64>{150}));
    EXPECT_EQ(start.msecsTo(clock.now()), 1100);
    EXPECT_EQ(clock.pending(), 0u);
}

TEST(FakeClock, RepeatingTimerStopsWhenDestroyedAndCancelTokenIsSeenAfterTheWait)
{
    FakeClock clock;
    int ticks = 0;
    auto timer = clock.every(1s, [&] { ++ticks; });
    clock.advance(3500ms);
    EXPECT_EQ(ticks, 3);
    timer.reset();
    clock.advance(10s);
    EXPECT_EQ(ticks, 3);

    CancelSource source;
    std::vector<int> log;
    auto task = sleeper(clock, 1s, log, 7, source.token());
    source.cancel();
    clock.advance(1s);
    EXPECT_EQ(log, (std::vector<int>{-7}));
    const auto renewed = source.renew();
    EXPECT_FALSE(renewed.isCancelled());
}

TEST(FakeClock, ATimerThatDestroysAnotherDuringAdvanceIsSafe)
{
    FakeClock clock;
    std::unique_ptr<Clock::Timer> second;
    int fired = 0;
    auto first = clock.after(100ms, [&] { second.reset(); ++fired; });
    second = clock.after(200ms, [&] { ++fired; });
    clock.advance(1s);
    EXPECT_EQ(fired, 1);
}
