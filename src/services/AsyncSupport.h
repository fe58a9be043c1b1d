#pragma once

#include <QCoro/QCoroTask>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// Small building blocks for the service client's coroutines. Everything runs on
// the main thread. Resumptions are posted to the event loop with a context
// object, so a timer or signal that wakes a coroutine never runs it inside its
// own callback, and a coroutine whose owner is gone is never resumed.
namespace Async {

// Cancels a group of in-flight steps: each registers what to do when cancelled
// (abort a reply, stop waiting) for as long as it is in flight.
class Abort {
public:
    bool cancelled() const { return m_cancelled; }
    void cancel()
    {
        if (m_cancelled)
            return;
        m_cancelled = true;
        auto hooks = std::move(m_hooks);
        m_hooks.clear();
        for (auto &[id, hook] : hooks)
            hook();
    }
    int onCancel(std::function<void()> hook)
    {
        const int id = m_next++;
        m_hooks.emplace(id, std::move(hook));
        return id;
    }
    void remove(int id) { m_hooks.erase(id); }

private:
    bool m_cancelled = false;
    int m_next = 1;
    std::map<int, std::function<void()>> m_hooks;
};

// Registers a hook for the lifetime of a scope.
class AbortHook {
public:
    AbortHook(Abort *abort, std::function<void()> hook) : m_abort(abort)
    {
        if (m_abort)
            m_id = m_abort->onCancel(std::move(hook));
    }
    ~AbortHook()
    {
        if (m_abort)
            m_abort->remove(m_id);
    }
    AbortHook(const AbortHook &) = delete;
    AbortHook &operator=(const AbortHook &) = delete;

private:
    Abort *m_abort;
    int m_id = 0;
};

// A one-shot wake-up for one awaiting coroutine.
class Trigger {
public:
    explicit Trigger(QObject *context) : m_state(std::make_shared<State>()) { m_state->context = context; }

    void fire() const { fireState(m_state); }
    bool fired() const { return m_state->fired; }
    // A callable that fires this trigger and may outlive it.
    std::function<void()> firer() const
    {
        return [state = m_state] { fireState(state); };
    }

    auto operator co_await() const
    {
        struct Awaiter {
            std::shared_ptr<struct State> state;
            bool await_ready() const noexcept { return state->fired; }
            void await_suspend(std::coroutine_handle<> h) noexcept { state->waiter = h; }
            void await_resume() const noexcept {}
        };
        return Awaiter{m_state};
    }

private:
    struct State {
        QPointer<QObject> context;
        bool fired = false;
        std::coroutine_handle<> waiter;
    };
    static void fireState(const std::shared_ptr<State> &state)
    {
        if (state->fired)
            return;
        state->fired = true;
        if (!state->waiter || !state->context)
            return;
        QMetaObject::invokeMethod(
            state->context.data(),
            [state] {
                if (auto h = std::exchange(state->waiter, nullptr))
                    h.resume();
            },
            Qt::QueuedConnection);
    }
    std::shared_ptr<State> m_state;
};

// A result that several coroutines wait for; set once.
template <typename T>
class Shared {
public:
    explicit Shared(QObject *context) : m_context(context) {}

    bool done() const { return m_value.has_value() || m_error; }
    void set(T value)
    {
        if (done())
            return;
        m_value = std::move(value);
        wake();
    }
    void fail(std::exception_ptr error)
    {
        if (done())
            return;
        m_error = error;
        wake();
    }

    // Waits for the result; a cancelled abort ends the wait with `onAbort` thrown.
    template <typename Error>
    static QCoro::Task<T> wait(std::shared_ptr<Shared> self, Abort *abort, Error onAbort)
    {
        if (!self->done()) {
            Trigger trigger(self->m_context);
            self->m_waiters.push_back(trigger.firer());
            AbortHook hook(abort, trigger.firer());
            if (abort && abort->cancelled())
                trigger.fire();
            co_await trigger;
        }
        if (!self->done())
            throw onAbort;
        if (self->m_error)
            std::rethrow_exception(self->m_error);
        // A copy for each waiter: QCoro moves from an lvalue handed to co_return,
        // which would leave later waiters an emptied value.
        T value = *self->m_value;
        co_return value;
    }

private:
    void wake()
    {
        auto waiters = std::move(m_waiters);
        m_waiters.clear();
        for (auto &w : waiters)
            w();
    }
    QPointer<QObject> m_context;
    std::optional<T> m_value;
    std::exception_ptr m_error;
    std::deque<std::function<void()>> m_waiters;
};

// A first-come, first-served lock held across awaits.
class Lock {
public:
    explicit Lock(QObject *context) : m_context(context) {}

    class Guard {
    public:
        explicit Guard(Lock *lock) : m_lock(lock) {}
        Guard(Guard &&other) noexcept : m_lock(std::exchange(other.m_lock, nullptr)) {}
        Guard &operator=(Guard &&) = delete;
        ~Guard()
        {
            if (m_lock)
                m_lock->release();
        }

    private:
        Lock *m_lock;
    };

    QCoro::Task<Guard> acquire()
    {
        if (m_held) {
            Trigger trigger(m_context);
            m_queue.push_back(trigger.firer());
            co_await trigger;
            // The releasing holder handed the lock straight to us.
        }
        m_held = true;
        co_return Guard(this);
    }

private:
    void release()
    {
        if (m_queue.empty()) {
            m_held = false;
            return;
        }
        auto next = std::move(m_queue.front());
        m_queue.pop_front();
        next();
    }
    QPointer<QObject> m_context;
    bool m_held = false;
    std::deque<std::function<void()>> m_queue;
};

} // namespace Async

namespace Async {

namespace detail {
template <typename T>
QCoro::Task<> pump(QCoro::Task<T> task, std::shared_ptr<Shared<T>> into)
{
    try {
        into->set(co_await task);
    } catch (...) {
        into->fail(std::current_exception());
    }
}
} // namespace detail

// Awaits `task`, or stops waiting with `onAbort` thrown once `abort` is cancelled
// (the task itself runs on to its end, its result dropped).
template <typename T, typename Error>
QCoro::Task<T> abortable(QCoro::Task<T> task, Abort *abort, QObject *context, Error onAbort)
{
    if (!abort)
        co_return co_await task;
    auto shared = std::make_shared<Shared<T>>(context);
    detail::pump(std::move(task), shared);
    co_return co_await Shared<T>::wait(shared, abort, onAbort);
}

} // namespace Async
