#pragma once

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <source_location>
#include <string>
#include <stdexcept>
#include <exception>
#include <optional>
#include <type_traits>
#include <functional>

namespace zktest {

// How long a test waits for one task or condition before it gives up: far more
// than any of them takes on a loaded two-core machine, and well within a
// suite's own time limit, so a case that waits for a fault fails with a message.
inline constexpr std::chrono::milliseconds kWaitLimit = std::chrono::seconds(30);

// Thrown out of a wait that ran out of time, once the failure is recorded with
// where the wait stood and what it waited for.
struct GaveUp : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace detail {

// A task's end, shared with the coroutine that drives it, which outlives a wait
// that gave up on it.
struct Waiter {
    bool done = false;
    QEventLoop *loop = nullptr;
    void finish();
};
template <typename T>
struct Slot {
    std::optional<T> value;
};
template <>
struct Slot<void> {};
template <typename T>
struct RunState : Waiter, Slot<T> {
    std::exception_ptr error;
};

template <typename T>
QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<RunState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            state->value = co_await std::move(task);
    } catch (...) {
        state->error = std::current_exception();
    }
    state->finish();
}

// Runs a nested event loop until the waiter is done or the limit passes; false then.
bool waitUntilDone(Waiter &waiter, std::chrono::milliseconds limit);
[[noreturn]] void gaveUp(const char *what, std::chrono::milliseconds limit, const std::source_location &where);

} // namespace detail

// Runs a task to its end in a nested event loop and rethrows its failure here.
// A task that has not ended within `limit` fails the test, naming `what` (or
// where it was awaited), and throws GaveUp; the task itself is left to end, or
// not, on its own.
template <typename T>
T run(QCoro::Task<T> &&task, const char *what = nullptr, std::chrono::milliseconds limit = kWaitLimit,
      std::source_location where = std::source_location::current())
{
    auto state = std::make_shared<detail::RunState<T>>();
    QCoro::Task<> driver = detail::drive(std::move(task), state);
    if (!detail::waitUntilDone(*state, limit))
        detail::gaveUp(what, limit, where);
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

// Runs a desktop tool (xdotool, xsetroot...) to its end, 20 s at most: its exit
// code, or -1 when it did not start, crashed or did not end in time (then it is
// killed).
int runTool(const QString &program, const QStringList &args);

// Spins the event loop until `done` holds or `limit` passes; false on time-out.
// The default is generous: a loaded two-core machine starts web pages slowly,
// and only a failing case ever waits it out.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = kWaitLimit);

// The ease-out timing curve, cubic Bézier (0, 0) (0.58, 1), solved here on its
// own to check the application's animations against.
double referenceEaseOut(double x);

// A private folder that lives for the test.
QString tempDir();

// "x,y wxh", for a failure message.
inline std::string rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// A small file system of the test's own: a tmpfs of `kib` KiB on a new folder,
// mounted in a mount namespace of the calling thread's own, so nothing of it is
// seen outside this test and it goes with it. path() is empty when this
// machine does not let the test mount (no privilege): the caller skips.
class PrivateMount {
public:
    explicit PrivateMount(int kib);
    ~PrivateMount();
    PrivateMount(const PrivateMount &) = delete;
    PrivateMount &operator=(const PrivateMount &) = delete;

    const QString &path() const { return m_path; }
    // Remounts it read-only, or writable again.
    bool setReadOnly(bool readOnly);
    // Takes every byte still free with a file of its own, or gives them back.
    bool fill();
    bool unfill();

private:
    QString m_path;
};

} // namespace zktest
