#pragma once

#include <QCoro/QCoroTask>

#include <exception>
#include <optional>

namespace opstest {

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

// The kind of the failure of type Error that `body` throws; none when it throws nothing of that type.
template <typename Error, typename Body>
std::optional<typename Error::Kind> kindThrown(Body &&body)
{
    try {
        body();
    } catch (const Error &e) {
        return e.kind();
    }
    return std::nullopt;
}

} // namespace opstest
