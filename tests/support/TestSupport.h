#pragma once

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>
#include <functional>

namespace zktest {

// Runs a task to its end in a nested event loop and rethrows its failure here
// (a failure inside QCoro::waitFor alone would leave the loop running).
template <typename T>
T run(QCoro::Task<T> &&task)
{
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        auto wrapper = [](QCoro::Task<T> t, std::exception_ptr &err) -> QCoro::Task<> {
            try {
                co_await std::move(t);
            } catch (...) {
                err = std::current_exception();
            }
        };
        QCoro::waitFor(wrapper(std::move(task), error));
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> result;
        auto wrapper = [](QCoro::Task<T> t, std::exception_ptr &err, std::optional<T> &out) -> QCoro::Task<> {
            try {
                out = co_await std::move(t);
            } catch (...) {
                err = std::current_exception();
            }
        };
        QCoro::waitFor(wrapper(std::move(task), error, result));
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }
}

// Spins the event loop until `done` holds or `limit` passes; false on time-out.
// The default is generous: a loaded two-core machine starts web pages slowly,
// and only a failing case ever waits it out.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(30));

// The ease-out timing curve, cubic Bézier (0, 0) (0.58, 1), solved here on its
// own to check the application's animations against.
double referenceEaseOut(double x);

// A private folder that lives for the test.
QString tempDir();

} // namespace zktest
