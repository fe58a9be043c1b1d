#pragma once

#include "base/Clock.h"
#include "services/ServiceTestSupport.h"
#include "services/ZephylAPI.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <stdexcept>

#include <exception>
#include <memory>
#include <optional>

namespace opstest {

using zktest::run;

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

// Runs a task while spinning the event loop (real network) and moving the fake
// clock on by `step` whenever nothing else is pending, up to `limit` of virtual time.
template <typename T>
T drive(QCoro::Task<T> &&task, FakeClock &clock, std::chrono::milliseconds step = std::chrono::milliseconds(100),
        std::chrono::milliseconds limit = std::chrono::minutes(30),
        std::optional<std::chrono::milliseconds> horizon = std::nullopt)
{
    std::exception_ptr error;
    std::optional<T> result;
    bool done = false;
    auto wrapper = [](QCoro::Task<T> t, std::exception_ptr &err, std::optional<T> &out, bool &finished) -> QCoro::Task<> {
        try {
            out = co_await std::move(t);
        } catch (...) {
            err = std::current_exception();
        }
        finished = true;
    };
    auto running = wrapper(std::move(task), error, result, done);
    std::chrono::milliseconds elapsed{0};
    QElapsedTimer real;
    real.start();
    while (!done && elapsed < limit && real.elapsed() < 60'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (done)
            break;
        // Give the network a moment before virtual time moves.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 2);
        if (horizon) {
            // Move only to waits that fall due soon, so a request still on the
            // wire never meets its own time-out however slow the machine is.
            const auto next = clock.msUntilNext();
            if (!next || *next > horizon->count())
                continue;
            clock.advance(std::chrono::milliseconds(*next));
            elapsed += std::chrono::milliseconds(*next);
            continue;
        }
        clock.advance(step);
        elapsed += step;
    }
    if (!done)
        throw std::runtime_error("task did not finish");
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

// What a call over a real connection ended with: nothing (success), an
// APIError or a NetworkError.
struct Ending {
    std::optional<ZephylAPI::APIError> api;
    std::optional<ZephylAPI::NetworkError::Code> network;
    bool succeeded = false;
};

template <typename T>
Ending endingOf(const zktest::Outcome<T> &outcome)
{
    Ending e;
    e.succeeded = outcome.done && !outcome.error;
    e.api = outcome.template errorAs<ZephylAPI::APIError>();
    if (const auto n = outcome.template errorAs<ZephylAPI::NetworkError>())
        e.network = n->code();
    return e;
}

// Runs a call over a real connection to its end; virtual time moves only to
// waits that fall due within two seconds, so a request that waits for the
// network retries while one on the wire never meets its own time-out.
template <typename T>
zktest::Outcome<T> settleOnWire(QCoro::Task<T> task, FakeClock &clock)
{
    auto out = std::make_shared<zktest::Outcome<T>>();
    auto runner = zktest::capture(std::move(task), out);
    QElapsedTimer real;
    real.start();
    while (!out->done && real.elapsed() < 60'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        if (const auto next = clock.msUntilNext(); next && *next <= 2000)
            clock.advance(std::chrono::milliseconds(*next));
    }
    if (!out->done)
        ADD_FAILURE() << "the call did not end";
    return *out;
}

// A client of the service at `origin` on the test's clock, signed in with the
// given account.
inline std::unique_ptr<ZephylAPI> signedInClient(const QUrl &origin, Clock &clock, KeychainStore &keychain,
                                                 const QString &email, const QString &password)
{
    ZephylAPI::Setup setup;
    setup.baseURL = origin;
    setup.clock = &clock;
    setup.keychain = &keychain;
    auto api = std::make_unique<ZephylAPI>(setup);
    run(api->signInWithEmail(email, password));
    return api;
}

} // namespace opstest
