#include "base/Clock.h"

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <coroutine>

namespace {
Clock *g_shared = nullptr;

class QtTimer final : public Clock::Timer {
public:
    QtTimer(std::chrono::milliseconds interval, bool repeat, std::function<void()> callback)
    {
        m_timer.setSingleShot(!repeat);
        m_timer.setTimerType(interval.count() < 2000 ? Qt::PreciseTimer : Qt::CoarseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(callback));
        m_timer.start(interval);
    }

private:
    QTimer m_timer;
};
} // namespace

Clock &Clock::shared()
{
    if (!g_shared) {
        static SystemClock system;
        g_shared = &system;
    }
    return *g_shared;
}

void Clock::setShared(Clock *clock) { g_shared = clock; }

QDateTime SystemClock::now() const { return QDateTime::currentDateTimeUtc(); }

double SystemClock::uptime() const
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.nsecsElapsed() / 1e9;
}

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration)
{
    co_await QCoro::sleepFor(duration);
}

std::unique_ptr<Clock::Timer> SystemClock::every(std::chrono::milliseconds interval, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(interval, true, std::move(callback));
}

std::unique_ptr<Clock::Timer> SystemClock::after(std::chrono::milliseconds delay, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(delay, false, std::move(callback));
}

struct FakeClock::Entry {
    std::coroutine_handle<> sleeper;      // set for a sleep
    std::function<void()> callback;        // set for a timer
    qint64 intervalMs = 0;                 // > 0 for a repeating timer
    std::uint64_t id = 0;
};

class FakeClock::FakeTimer final : public Clock::Timer {
public:
    FakeTimer(FakeClock *clock, std::uint64_t id) : m_clock(clock), m_id(id) {}
    ~FakeTimer() override { m_clock->cancel(m_id); }
    void rebind(std::uint64_t id) { m_id = id; }

private:
    FakeClock *m_clock;
    std::uint64_t m_id;
};

struct FakeClock::SleepAwaiter {
    FakeClock *clock;
    qint64 dueMs;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        auto entry = std::make_shared<Entry>();
        entry->sleeper = handle;
        clock->schedule(dueMs, entry);
    }
    void await_resume() const noexcept {}
};

FakeClock::FakeClock(QDateTime start) : m_nowMs(start.toMSecsSinceEpoch()), m_startMs(m_nowMs) {}

FakeClock::~FakeClock()
{
    if (g_shared == this)
        g_shared = nullptr;
}

QDateTime FakeClock::now() const { return QDateTime::fromMSecsSinceEpoch(m_nowMs, Qt::UTC); }

double FakeClock::uptime() const { return (m_nowMs - m_startMs) / 1000.0; }

QCoro::Task<> FakeClock::sleep(std::chrono::milliseconds duration)
{
    co_await SleepAwaiter{this, m_nowMs + std::max<qint64>(0, duration.count())};
}

std::uint64_t FakeClock::schedule(qint64 dueMs, std::shared_ptr<Entry> entry)
{
    const auto id = m_nextId++;
    entry->id = id;
    m_entries.emplace(std::make_pair(dueMs, id), std::move(entry));
    return id;
}

void FakeClock::cancel(std::uint64_t id)
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second->id == id) {
            m_entries.erase(it);
            return;
        }
    }
}

std::unique_ptr<Clock::Timer> FakeClock::every(std::chrono::milliseconds interval, std::function<void()> callback)
{
    auto entry = std::make_shared<Entry>();
    entry->callback = std::move(callback);
    entry->intervalMs = std::max<qint64>(1, interval.count());
    const auto id = schedule(m_nowMs + entry->intervalMs, entry);
    return std::make_unique<FakeTimer>(this, id);
}

std::unique_ptr<Clock::Timer> FakeClock::after(std::chrono::milliseconds delay, std::function<void()> callback)
{
    auto entry = std::make_shared<Entry>();
    entry->callback = std::move(callback);
    const auto id = schedule(m_nowMs + std::max<qint64>(0, delay.count()), entry);
    return std::make_unique<FakeTimer>(this, id);
}

void FakeClock::advance(std::chrono::milliseconds by)
{
    const qint64 target = m_nowMs + std::max<qint64>(0, by.count());
    while (!m_entries.empty() && m_entries.begin()->first.first <= target) {
        auto node = m_entries.extract(m_entries.begin());
        auto entry = node.mapped();
        m_nowMs = std::max(m_nowMs, node.key().first);
        if (entry->sleeper) {
            entry->sleeper.resume();
        } else {
            if (entry->intervalMs > 0) {
                // Keep the same id so the owning timer can still cancel it.
                m_entries.emplace(std::make_pair(m_nowMs + entry->intervalMs, entry->id), entry);
            }
            entry->callback();
        }
    }
    m_nowMs = target;
}

void FakeClock::setNow(const QDateTime &time) { m_nowMs = time.toMSecsSinceEpoch(); }
