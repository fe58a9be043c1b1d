#pragma once

#include <QCoro/QCoroTask>
#include <QDateTime>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// Time as the application sees it. Everything that waits or reads the time goes
// through a Clock so that tests can run design timers in virtual time.
class Clock {
public:
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~Clock() = default;

    // Wall-clock time.
    virtual QDateTime now() const = 0;
    // Seconds on a monotonic scale, for measuring intervals.
    virtual double uptime() const = 0;
    // Resumes the awaiting coroutine on the main thread after `duration`.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
    // Calls `callback` every `interval` until the returned timer is destroyed.
    virtual std::unique_ptr<Timer> every(std::chrono::milliseconds interval, std::function<void()> callback) = 0;
    // Calls `callback` once after `delay` unless the returned timer is destroyed first.
    virtual std::unique_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> callback) = 0;

    double nowSeconds() const { return now().toMSecsSinceEpoch() / 1000.0; }

    // The process-wide clock; a SystemClock unless a test installs another.
    static Clock &shared();
    static void setShared(Clock *clock);
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    double uptime() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
    std::unique_ptr<Timer> every(std::chrono::milliseconds interval, std::function<void()> callback) override;
    std::unique_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> callback) override;
};

// Virtual time. Nothing happens until a test calls advance(), which runs every
// sleeper and timer that falls due, in time order, with now() set to its due time.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime::fromMSecsSinceEpoch(1'750'000'000'000, Qt::UTC));
    ~FakeClock() override;

    QDateTime now() const override;
    double uptime() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
    std::unique_ptr<Timer> every(std::chrono::milliseconds interval, std::function<void()> callback) override;
    std::unique_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> callback) override;

    void advance(std::chrono::milliseconds by);
    void advanceSeconds(double seconds) { advance(std::chrono::milliseconds(std::llround(seconds * 1000.0))); }
    void setNow(const QDateTime &time);
    // Number of sleepers and live timers still waiting.
    std::size_t pending() const { return m_entries.size(); }
    // Milliseconds until the earliest sleeper or timer falls due; none when nothing waits.
    std::optional<qint64> msUntilNext() const
    {
        if (m_entries.empty())
            return std::nullopt;
        return std::max<qint64>(0, m_entries.begin()->first.first - m_nowMs);
    }

private:
    struct Entry;
    class FakeTimer;
    friend class FakeTimer;
    struct SleepAwaiter;

    std::uint64_t schedule(qint64 dueMs, std::shared_ptr<Entry> entry);
    void cancel(std::uint64_t id);

    qint64 m_nowMs;
    qint64 m_startMs;
    std::uint64_t m_nextId = 1;
    // Ordered by (due time, insertion order).
    std::map<std::pair<qint64, std::uint64_t>, std::shared_ptr<Entry>> m_entries;
};
