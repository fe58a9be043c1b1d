#pragma once

#include "base/Clock.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI_p.h"

#include <QCoreApplication>
#include <QList>

#include <ostream>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

// Reaches the client's private request core.
struct ZephylAPITestAccess {
    template <typename T>
    static QCoro::Task<T> authenticated(ZephylAPI &api, QString path, QByteArray method = "GET",
                                        std::optional<QJsonObject> body = std::nullopt)
    {
        return api.authenticated<T>(std::move(path), std::move(method), std::move(body));
    }
    template <typename T>
    static QCoro::Task<T> send(ZephylAPI &api, QString path, QByteArray method, std::optional<QJsonObject> body,
                               bool authenticated, std::optional<QString> key = std::nullopt,
                               std::optional<std::chrono::milliseconds> timeout = std::nullopt)
    {
        ZephylAPI::RequestSpec spec(std::move(path), std::move(method), std::move(body), authenticated);
        spec.idempotencyKey = std::move(key);
        spec.timeout = timeout;
        return api.send<T>(std::move(spec));
    }
    template <typename T>
    static T checkAnswer(int status, const QByteArray &body)
    {
        return ZephylAPI::checkAnswer<T>(status, body);
    }
    static QCoro::Task<> persist(ZephylAPI &api, ZephylAPI::AuthSession session) { return api.persist(session); }
};

// Readable failures in test output.
inline void PrintTo(const ServiceAPIError &e, std::ostream *os)
{
    static const char *names[] = {"rejected", "serverRefused", "invalidCredential", "invalidResponse",
                                  "unauthorized", "sessionExpired"};
    *os << names[int(e.kind())];
    if (e.kind() == ServiceAPIError::Kind::serverRefused)
        *os << "(" << e.status() << ")";
    if (e.code())
        *os << "(\"" << e.code()->toStdString() << "\")";
}

namespace zktest {

// The outcome of a coroutine run to its end: its value or what it threw.
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    std::chrono::milliseconds virtualElapsed{0};

    // The thrown error as E, or nothing.
    template <typename E>
    std::optional<E> errorAs() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
};

struct Done {};

template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> out)
{
    try {
        out->value = co_await task;
    } catch (...) {
        out->error = std::current_exception();
    }
    out->done = true;
}

inline QCoro::Task<Done> asDone(QCoro::Task<> task)
{
    co_await task;
    co_return Done{};
}

inline void drainEvents()
{
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Starts `task` and moves the fake clock on in steps, delivering events in
// between, until it ends. Network answers here are scripted, so only virtual
// time passes.
template <typename T>
std::shared_ptr<Outcome<T>> runVirtual(FakeClock &clock, QCoro::Task<T> task,
                                       std::chrono::milliseconds step = std::chrono::milliseconds(250),
                                       std::chrono::milliseconds limit = std::chrono::seconds(300))
{
    auto out = std::make_shared<Outcome<T>>();
    const double start = clock.uptime();
    auto runner = capture(std::move(task), out);
    drainEvents();
    while (!out->done && clock.uptime() - start < limit.count() / 1000.0) {
        clock.advance(step);
        drainEvents();
    }
    out->virtualElapsed = std::chrono::milliseconds(qint64((clock.uptime() - start) * 1000.0 + 0.5));
    return out;
}

inline std::shared_ptr<Outcome<Done>> runVirtual(FakeClock &clock, QCoro::Task<> task,
                                                 std::chrono::milliseconds step = std::chrono::milliseconds(250))
{
    return runVirtual(clock, asDone(std::move(task)), step);
}

// Runs a task to its end in real time and keeps what it threw (QCoro::waitFor
// never returns from a task that throws).
template <typename T>
std::shared_ptr<Outcome<T>> settle(QCoro::Task<T> task)
{
    auto out = std::make_shared<Outcome<T>>();
    auto runner = capture(std::move(task), out);
    while (!out->done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return out;
}
inline std::shared_ptr<Outcome<Done>> settle(QCoro::Task<> task) { return settle(asDone(std::move(task))); }

// A web road that records what it was asked and answers from a script.
class TestTransport final : public WebTransport {
public:
    struct Call {
        QString path;
        QString method;
        std::optional<QByteArray> body;
        QMap<QString, QString> headers;
    };
    std::function<Response(const Call &)> script = [](const Call &) { return Response{200, "{\"ok\":true}"}; };
    QList<Call> calls;

    QCoro::Task<Response> perform(QString path, QString method, std::optional<QByteArray> body,
                                  QMap<QString, QString> headers) override
    {
        calls.push_back(Call{path, method, body, headers});
        co_return script(calls.back());
    }
};

inline ZephylWire::AuthSession sampleSession(const QString &suffix)
{
    ZephylWire::AuthSession s;
    s.accessToken = QStringLiteral("access-") + suffix;
    s.refreshToken = QStringLiteral("refresh-") + suffix;
    s.expiresIn = 900;
    s.user = ZephylWire::User{QStringLiteral("user-1"), QStringLiteral("cat@example.com"), std::nullopt,
                              QStringLiteral("creator")};
    return s;
}

inline QByteArray sessionJson(const QString &suffix) { return Json::encode(sampleSession(suffix).toJson()); }

} // namespace zktest
